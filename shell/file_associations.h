#pragma once
// Making Pellorin the program the desktop opens picture files with: the
// user's default application for each file type is kept in the user's
// mimeapps.list, and the program announces itself with its own desktop entry
// in the user's applications folder.
//
// File types are given as extensions (".jpg"); the caller supplies the MIME
// type of each from the shared MIME database, so the mapping is the desktop's
// own.

#include "shell/desktop_entry.h"
#include "shell/xdg_dirs.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The MIME type the desktop gives files with this extension, or empty when it
// knows none.
using MimeLookup = std::function<std::string(const std::string& extension)>;

struct AssociationBox {
    std::string_view text;                    // the check box's text
    std::vector<std::string_view> extensions; // written; the first decides the check mark
};
inline constexpr int kAssociationBoxCount = 7;

// The boxes as the dialog shows them: bmp, jpg, gif, png, tif, tga, psd.
const std::array<AssociationBox, kAssociationBoxCount>& AssociationBoxes();
// The order in which they are read at opening and applied on OK: bmp, gif,
// jpg, png, tif, tga, psd (indexes into AssociationBoxes()).
const std::array<int, kAssociationBoxCount>& AssociationOrder();

// Per box: whether its first extension was associated with Pellorin when a
// dialog was opened. Set by opening a dialog, never cleared.
struct WasAssociatedFlags {
    std::array<bool, kAssociationBoxCount> box{};
};
// The flags shared by every dialog of this process.
WasAssociatedFlags& ProcessWasAssociatedFlags();

// Extensions whose MIME types the program's entry lists: every box's and the
// other pictures the program opens.
std::vector<std::string> EntryExtensions();

class CFileAssociations {
public:
    CFileAssociations(XdgDirs dirs, MimeLookup mimeOf);

    const XdgDirs& Dirs() const { return dirs_; }

    // Whether the desktop's default application for the extension's type is
    // Pellorin: the first installed application among the defaults of the
    // first mimeapps.list (in lookup order) that lists one for the type.
    bool IsAssociated(const std::string& extension) const;

    // Makes Pellorin the user's default for the extension's type. False, with
    // the reason in *error, when the user's mimeapps.list cannot be written.
    bool Associate(const std::string& extension, std::string* error = nullptr);
    // Takes Pellorin out of the user's defaults for the extension's type; a
    // default naming another program stays.
    bool Disassociate(const std::string& extension, std::string* error = nullptr);

    // The entry DesktopEntryInfo for this program: its path, icon and the MIME
    // types of EntryExtensions().
    DesktopEntryInfo OwnEntry(const std::string& program) const;
    // Writes the program's own desktop entry into the user's applications folder.
    bool WriteOwnEntry(const DesktopEntryInfo& info, std::string* error = nullptr);

    // Opening the dialog: the check mark of every box; sets the flag of each
    // box found associated.
    std::array<bool, kAssociationBoxCount> ReadBoxes(WasAssociatedFlags& flags) const;
    // OK of the dialog: rewrites the program's entry, then associates every
    // extension of each checked box and disassociates those of each unchecked
    // box whose flag is set. Every step runs even when an earlier one failed;
    // the failures come back, one line each.
    std::vector<std::string> ApplyBoxes(const std::array<bool, kAssociationBoxCount>& checked,
                                        const WasAssociatedFlags& flags,
                                        const DesktopEntryInfo& entry);

private:
    struct Change {
        std::string mimeType;
        bool associate;
    };
    // Applies the changes to the user's mimeapps.list in one rewrite.
    bool Edit(const std::vector<Change>& changes, std::string* error);

    XdgDirs dirs_;
    MimeLookup mimeOf_;
};
