// The header description q7m-dlfile builds a download file from: lines of
// "Key=Value", blank lines and lines starting with "#" or ";" ignored, keys
// in any case.
//
//   ImageType=Q7M-FW          firmware type of the image (12 characters)
//   ImageRevision=11          its revision (2 characters)
//   BlockSize=512             1 to 2048
//   DownloadText=...          20 characters; default: the type padded to 12
//                             and the revision (what the reader reports)
//   Number=1                  0 to 9999 (kept in the file, not used)
//   Comment=...               up to 256 characters (kept, not used)
//   Compatible=Q7M-MASK,01,1A2B3C   a mask version the image fits: type,
//                             revision, sum in up to 6 hexadecimal digits;
//                             up to 10 such lines, none: every reader
#pragma once

#include <string>
#include <string_view>

#include "download_file.h"

namespace q7mdlfile {

// Fills `header` (all but the block count and the image sum) from the
// description's text. False with the line and the reason in `error`.
bool ParseHeaderDescription(std::string_view text, q7m::rdax::DownloadHeader* header,
                            std::string* error);

}  // namespace q7mdlfile
