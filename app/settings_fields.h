#pragma once
// The one table of stored settings fields: key, value type (which also fixes the
// field width) and where the field lives in the record. It drives the "Settings"
// section of configuration files, in file order.

#include "app/config_storage.h"
#include "app/settings.h"
#include "app/view_frames.h"

#include <span>

struct SettingsField {
    const char* key;
    FieldType type;
    void* (*address)(ProcessingSettings&);
};

std::span<const SettingsField> SettingsFieldTable();

// The section name of the main window's configuration.
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kConfigBanner =
    "; Pellorin processing configuration (.qvc)\n"
    "; Written by Pellorin; every key is one processing setting.";

// Registers every stored field of `s` in the section, in file order.
void BindSettings(CIniPartition& section, ProcessingSettings& s);

// A storage bound to `s` with its banner and "Settings" section.
struct SettingsFile {
    explicit SettingsFile(ProcessingSettings& s);
    bool Save(const std::string& path, std::string* message = nullptr) const {
        return storage.Save(path, message);
    }
    // Loads and then gives every effect exactly one tick.
    bool Load(const std::string& path);
    // The frames the file last loaded holds fractions for (see StoredFrames).
    StoredFrames FramesWithFractions() const;
    CFileStorage storage;
    ProcessingSettings& settings;
};
