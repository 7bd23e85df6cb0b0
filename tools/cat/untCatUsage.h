// velalog-cat's usage text: its options, its output lines and its commands.
#pragma once

namespace vela {

extern const char* const CatUsage;

} // namespace vela
