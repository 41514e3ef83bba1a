#pragma once
// What an operation's settings dialog needs from the main window: the settings
// record it edits and a way to rerun the preview after each change.

#include "app/settings.h"

#include <utility>

class CDialogHost {
public:
    virtual ~CDialogHost() = default;
    virtual ProcessingSettings& Settings() = 0;
    // Runs the pipeline in preview mode and shows the result.
    virtual void Reprocess() = 0;
    // Width and height of the loaded picture, 0 x 0 while there is none.
    // Settings that are positions in the picture are limited by it.
    virtual std::pair<int, int> PictureSize() const { return {0, 0}; }
};
