#pragma once
// Which wording of a text fits this system, where a text is worded per system
// (advice that names the system's tools or settings).

namespace platform {

// The name the wordings for this system go under ("linux", "windows"): the
// wizard's text copies hold one as "<key>.<name>" beside "<key>", the text
// every system without a wording of its own shows, which names none; the
// flasher's advice is a table by the same names. Never null or empty.
const char* textVariant();

} // namespace platform
