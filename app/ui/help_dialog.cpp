#include "app/ui/help_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const char* const kHelpHtml = R"(
<h2>Pellorin</h2>
<p>Pellorin builds a <b>treatment</b> for a picture and applies it again to every
further picture: the next file of a folder, or whole folders with
<code>pellorin-cli</code>.</p>

<h3>Working on a picture</h3>
<ol>
<li><b>Load From Disk...</b> opens a picture (PNG, BMP, JPG, GIF, TIFF, TARGA,
PSD, PCD, ICO). You can also drop a file on the window. The left view shows the
original, the right view the processed picture.</li>
<li>Change settings on the right: every change shows at once in the right view.</li>
<li>Add effects with <b>Insert Effect...</b>. An effect takes part once its box is
ticked; effects run from the top of the list down, before the corrections on the
right. <b>Edit Effect...</b> opens its settings; <b>Move Up</b> and <b>Move Down</b>
change the order.</li>
<li><b>Save As...</b> writes the full-size result; <b>Save</b> writes it again to
the same file. A failed save never touches an existing file.</li>
</ol>

<h3>The corrections</h3>
<p>They run in a fixed order after the effect list: crop, resize, rotation by an
angle, quarter turns, the two mirrors, then the light regions and the other
corrections.</p>
<ul>
<li><b>Crop</b> shows a frame in the left view; drag it or its handles. The
result follows while you drag.</li>
<li><b>Light1</b> to <b>Light3</b> tint a region with the colour of the swatch
beside them. <b>Edit Light</b> shows the region's frame in the right view.</li>
<li><b>Resize</b> scales to <b>SizeX</b> by <b>SizeY</b> pixels (0 leaves the size
alone).</li>
<li><b>Rot. left</b> and <b>Rot. right</b> turn by a quarter; <b>Vertical</b> and
<b>Horizontal</b> mirror; the <b>Rotate Angle</b> slider turns by any angle, the
uncovered corners take the <b>BKG. Color</b>.</li>
<li><b>Replace Color</b>: with the box ticked, a left click on a view picks the
colour to replace and a right click the colour to put in its place.</li>
</ul>

<h3>Treatments</h3>
<p><b>Save Configuration...</b> stores every setting and the effect list in a
<code>.qvc</code> file; <b>Load Configuration...</b> brings it back. With a
configuration loaded, <b>Load Next &gt;&gt;</b> and <b>&lt;&lt; Load Previous</b>
step through the pictures of the folder (those the open dialog's filter shows)
and the same treatment applies to each.</p>
<p>To treat a whole folder without the window:</p>
<pre>pellorin-cli apply --config treatment.qvc --out-dir results/ photos/</pre>

<h3>Viewing and printing</h3>
<p>Double-click either view to see the picture at full screen; the space bar
switches between the original and the result, Escape closes.
<b>Print...</b>, <b>Print Preview...</b> and <b>Advanced Print Preview...</b>
print the full-size result with a layout you choose (size, position, units,
grey scale).</p>
)";

} // namespace

void ShowHelp(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Pellorin Help");
    auto* text = new QTextBrowser(&dlg);
    text->setHtml(QString::fromUtf8(kHelpHtml));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dlg.resize(640, 560);
    dlg.exec();
}

void ShowAbout(QWidget* parent) {
    QMessageBox::about(parent, "About Pellorin",
                       "<b>Pellorin</b> " PELLORIN_VERSION
                       "<p>An image processor: build a treatment once, apply it to every "
                       "picture.</p>");
}
