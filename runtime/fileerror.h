// The file error of code 90 with a text of the failing system's own (a database server's message)
// instead of the table's text for its number. A driver leaves the text just before it answers 90;
// the runtime's next setFileError on the thread takes it, and any other setError drops it.
#pragma once
#include <string>

namespace sorv {

void setPendingFileErrorText(std::string text);
// Drops a text left and not taken (the driver layer does so before every call to a driver).
void clearPendingFileErrorText();

} // namespace sorv
