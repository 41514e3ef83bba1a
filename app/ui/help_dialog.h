#pragma once
class QWidget;
// "Help...": how to use Pellorin.
void ShowHelp(QWidget* parent);
// "About...": version and credits.
void ShowAbout(QWidget* parent);
