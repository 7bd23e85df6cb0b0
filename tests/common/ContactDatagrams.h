// Builds the digital-mode programs' UDP datagrams byte by byte, in their
// wire layout (big-endian, strings as 32-bit length and UTF-8 bytes), for
// tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace vela::test {

class TDatagramBuilder {
public:
  explicit TDatagramBuilder(std::uint32_t Type, std::uint32_t Schema = 2,
                            std::uint32_t Magic = 0xADBCCBDA, const std::string& Id = "WSJT-X") {
    U32(Magic).U32(Schema).U32(Type).Text(Id);
  }
  TDatagramBuilder& U8(std::uint8_t V) { return Bytes(V, 1); }
  TDatagramBuilder& U32(std::uint32_t V) { return Bytes(V, 4); }
  TDatagramBuilder& U64(std::uint64_t V) { return Bytes(V, 8); }
  TDatagramBuilder& Text(const std::string& V) {
    U32(static_cast<std::uint32_t>(V.size()));
    FData += V;
    return *this;
  }
  // A date-time: Julian day, milliseconds of the day, time basis (and the
  // offset in seconds for basis 2).
  TDatagramBuilder& DateTime(std::int64_t JulianDay, std::uint32_t Ms, std::uint8_t Basis = 1,
                             std::int32_t Offset = 0) {
    U64(static_cast<std::uint64_t>(JulianDay)).U32(Ms).U8(Basis);
    return Basis == 2 ? U32(static_cast<std::uint32_t>(Offset)) : *this;
  }
  TDatagramBuilder& Raw(const std::string& V) {
    FData += V;
    return *this;
  }
  const std::string& Data() const { return FData; }

private:
  TDatagramBuilder& Bytes(std::uint64_t V, int Count) {
    for (int I = Count - 1; I >= 0; --I)
      FData += static_cast<char>((V >> (8 * I)) & 0xFF);
    return *this;
  }
  std::string FData;
};

// 7 December 2026 as a Julian day number; 22:57:50 UTC in milliseconds.
constexpr std::int64_t Dec7th2026 = 2461382;
constexpr std::uint32_t At225750 = (22 * 3600 + 57 * 60 + 50) * 1000;

// A type 5 "contact logged" up to the name, as the oldest senders send it
// (schema 2), or as a later schema.
inline TDatagramBuilder ContactLoggedHead(const std::string& Call, std::uint64_t Hz,
                                          const std::string& Mode = "FT8",
                                          const std::string& Name = "Hans",
                                          std::uint32_t Schema = 2) {
  TDatagramBuilder B(5, Schema);
  B.DateTime(Dec7th2026, At225750 + 15000) // time off
      .Text(Call)
      .Text("JO62")
      .U64(Hz)
      .Text(Mode)
      .Text("-10")
      .Text("-12")
      .Text("5")
      .Text("tnx")
      .Text(Name);
  return B;
}

// A whole type 5 with the time on and the fields after it.
inline std::string ContactLogged(const std::string& Call, std::uint64_t Hz = 7075500,
                                 const std::string& Mode = "FT8") {
  return ContactLoggedHead(Call, Hz, Mode)
      .DateTime(Dec7th2026, At225750)
      .Text("")
      .Text("K1ABC")
      .Text("FN42")
      .Text("")
      .Text("")
      .Text("")
      .Data();
}

// The same contact as a type 12 "logged ADIF".
inline std::string LoggedAdif(const std::string& Call) {
  return TDatagramBuilder(12)
      .Text("<adif_ver:5>3.1.0 <programid:6>WSJT-X <EOH> <call:" + std::to_string(Call.size()) +
            ">" + Call +
            " <gridsquare:4>JO62 <mode:3>FT8 <rst_sent:3>-10 <rst_rcvd:3>-12 "
            "<qso_date:8>20261207 <time_on:6>225750 <qso_date_off:8>20261207 "
            "<time_off:6>225805 <band:3>40m <freq:8>7.075500 <station_callsign:5>K1ABC "
            "<my_gridsquare:4>FN42 <EOR>")
      .Data();
}

// One contact as WSJT-X 2.6.1 sends it: "contact logged" (schema 3, texts
// in UTF-8) with the name Name, and "logged ADIF" whose name field is
// AdifName as bytes (Latin-1 there, with "?" for what Latin-1 lacks).
inline std::string ContactLoggedNamed(const std::string& Call, const std::string& Name) {
  return ContactLoggedHead(Call, 7075500, "FT8", Name, 3)
      .DateTime(Dec7th2026, At225750)
      .Text("K1ABC")
      .Text("K1ABC")
      .Text("FN42")
      .Text("")
      .Text("")
      .Text("")
      .Data();
}
inline std::string LoggedAdifNamed(const std::string& Call, const std::string& AdifName) {
  return TDatagramBuilder(12, 3)
      .Text("\n<adif_ver:5>3.1.0\n<programid:6>WSJT-X\n<EOH>\n<call:" +
            std::to_string(Call.size()) + ">" + Call +
            " <gridsquare:4>JO62 <mode:3>FT8 <rst_sent:3>-10 <rst_rcvd:3>-12 "
            "<qso_date:8>20261207 <time_on:6>225750 <qso_date_off:8>20261207 "
            "<time_off:6>225805 <band:3>40m <freq:8>7.075500 <station_callsign:5>K1ABC "
            "<my_gridsquare:4>FN42 <tx_pwr:1>5 <comment:3>tnx <name:" +
            std::to_string(AdifName.size()) + ">" + AdifName + " <operator:5>K1ABC <EOR>")
      .Data();
}

} // namespace vela::test
