#pragma once
// What an operation's settings dialog needs from the main window: the settings
// record it edits and a way to rerun the preview after each change.

#include "app/settings.h"

class CDialogHost {
public:
    virtual ~CDialogHost() = default;
    virtual ProcessingSettings& Settings() = 0;
    // Runs the pipeline in preview mode and shows the result.
    virtual void Reprocess() = 0;
};
