// The images a user names on the command line (files or folders), listed without a host:
// no block, no pattern, no sources. One file shows its folder's images with that file
// first on screen; a folder shows its images; several paths show the files named and the
// images of the folders named, in the order given.
#pragma once

#include "images/Orlenza.Types.h"

#include <string>
#include <vector>

namespace lvimages {

struct TOpenedImages {
    std::vector<TLumivaneImage> Images; // in the order the list shows them
    std::string StartPath;              // the record's Path to show first; empty: the first
    std::vector<std::string> Folders;   // the folders listed, each once, as listed
    std::vector<std::string> Problems;  // one line per path that adds nothing to the list
};

// Reads the file system: on a worker, or before any window exists. Never throws for a
// path: what cannot be shown is said in Problems. Relative paths are taken from the
// current folder.
TOpenedImages ListOpenedPaths(const std::vector<std::string>& APaths);

// The name the list goes by in the window (its identifier box and print jobs): the first
// path's last part.
std::string OpenedListName(const std::vector<std::string>& APaths);

} // namespace lvimages
