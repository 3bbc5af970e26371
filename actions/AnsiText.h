// ANSI descriptions (FILE_ID.ANS, coloured DIZ files) as the text a caller
// reads on screen: escape sequences and the SAUCE trailer removed, every
// other byte (code page 437) kept as it is.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// True when the bytes hold an escape character or end in a SAUCE record.
bool CarriesAnsi(std::string_view bytes);

// The text of an ANSI file: it ends at a SAUCE record 128 bytes from the
// end (and its COMNT block), and at the first control-Z as on DOS; escape
// sequences are dropped, a cursor move to the right becomes blanks (up to
// the 80th column), other cursor moves, BEL and backspace are dropped, NUL
// shows as a blank; line breaks stay as they are and each line loses its
// trailing blanks.
std::string AnsiToText(std::string_view bytes);

}  // namespace qm
