#pragma once
// The image files of a folder in the order "Load Next" steps through them.

#include <string>
#include <vector>

// Filter index 1 lists *.png, *.bmp, *.jpg, *.gif, *.tif, *.tga, *.psd, *.pcd in
// that order of patterns; indexes 2 to 9 list only *.png, *.jpg, *.gif, *.bmp,
// *.tif, *.tga, *.psd or *.pcd; any other index lists nothing. Patterns match
// regardless of case; within a pattern the files are sorted by name. Entries
// are folder + "/" + file name.
std::vector<std::string> ListFolderImages(const std::string& folder, int filterIndex);

// The position of `file` in `list` (compared ignoring case), or -1.
int IndexInFolderList(const std::vector<std::string>& list, const std::string& file);

// Next and previous with wrap-around; -1 for an empty list.
int NextIndex(int index, int count);
int PreviousIndex(int index, int count);
