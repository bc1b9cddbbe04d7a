// What the tools say about a file they wrote: its size and, for the image and
// video formats the library writes, the format and picture size read back from
// the file's own header (so the line shows what a viewer will find).
#pragma once

#include <string>

namespace vimbra::tools {

// "1234567 bytes, PNG 2592 x 1944" or "... bytes, raw pixels"; the size alone
// for a format it does not recognise, and the reason when the file is unreadable.
std::string DescribeFile(const std::string& path);

}  // namespace vimbra::tools
