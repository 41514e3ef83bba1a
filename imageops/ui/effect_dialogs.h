#pragma once
// Entry points for the main window: the parameter dialog of a list effect
// ("Edit Effect...") and the dialogs of the fixed-chain corrections. Each runs
// modally, writes the settings and previews through the host.

#include "imageops/ui/dialog_host.h"

class QWidget;

// Opens the parameter dialog of an effect id and returns true, or returns false
// for effects that have no dialog (or whose dialog is not there yet).
bool OpenEffectDialog(int effectId, CDialogHost& host, QWidget* parent);
bool HasEffectDialog(int effectId);

void OpenAdjustColorDialog(CDialogHost& host, QWidget* parent);
void OpenColorFilterDialog(CDialogHost& host, QWidget* parent);
void OpenPerspectiveDialog(CDialogHost& host, QWidget* parent);
