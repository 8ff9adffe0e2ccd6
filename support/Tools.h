#pragma once

#include <string>
#include <vector>

// Small helpers of the support library. The threaded radix sort and the GPU's
// transfers cut their work with SplitRange, and run directories are named by
// GetStampYMDHMS; the file and link helpers serve other programs of the library.
namespace AppCore::Tools {

// Cuts [start, start + length) into `parts` contiguous pieces whose lengths
// differ by at most one, longer pieces first; returns the parts + 1 boundaries.
// parts must lie in 1 ... 4,294,967,294: std::invalid_argument otherwise.
std::vector<unsigned long> SplitRange(unsigned long start, unsigned long length, unsigned int parts);

// As above with parts = min(maxParts, ceil(length / partLength)). A length of 0
// gives the single boundary {start}; partLength 0 or maxParts 0 is invalid_argument.
std::vector<unsigned long> SplitRange(unsigned long start, unsigned long length, unsigned int maxParts,
                                      unsigned long partLength);

// The whole file as bytes. Throws std::runtime_error
// `Could not open "<path>" file!` when it cannot be opened.
std::vector<unsigned char> GetBinaryFileContents(const std::string& path);

// Local time as twelve digits "%y%m%d%H%M%S".
std::string GetStampYMDHMS();

// Hands the url to xdg-open; the command's result is not looked at.
void OpenWebLink(const std::string& url);

}  // namespace AppCore::Tools
