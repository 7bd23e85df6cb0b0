// The program's exception base: an exception that carries a message text.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace vela {

class Exception : public std::exception {
public:
  explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

} // namespace vela
