// The viewer window's keyboard: the keys that page, zoom, turn, print, copy and hide, the
// window listing them, and where the focus goes when a search shows the window.
#include "viewer/OrlenzaFrm.h"

#include "viewer/ImageGeometry.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace lvform;

namespace {

// Sees key presses before any widget of the window does, so a focused slider or list
// cannot take a key the window means for itself. Only the identifier box keeps single keys.
class TWindowKeyFilter : public QObject {
public:
    TWindowKeyFilter(QWidget* AWindow,
                     std::function<bool(const QWidget*, const QKeyEvent*)> AHandle)
        : QObject(AWindow), FWindow(AWindow), FHandle(std::move(AHandle)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() != FWindow)
            return false;
        return FHandle(widget, static_cast<const QKeyEvent*>(event));
    }

private:
    QWidget* FWindow;
    std::function<bool(const QWidget*, const QKeyEvent*)> FHandle;
};

struct TKeyHelpRow {
    const char* Keys;
    const char* Does;
};

// The keys and the mouse as they are; docs/first-session.md has the same rows.
constexpr TKeyHelpRow kKeyHelp[] = {
    {"Right / Left", "next / previous file"},
    {"Page Down / Page Up", "next / previous page, across files"},
    {"Home / End", "first / last file"},
    {"F9 or T", "page strip on / off"},
    {"+ / -", "zoom in / out (1 to 4 times the fitted size)"},
    {"1", "the picture's own pixels (100 %)"},
    {"0", "back to the fitted size"},
    {"Up / Down", "scroll a zoomed page a tenth of the window"},
    {"Shift+Left / Shift+Right", "scroll a zoomed page sideways"},
    {"Space / Shift+Space", "scroll most of the window; at the page's end, the next page"},
    {"W", "fit to width on / off"},
    {"R / Shift+R", "a quarter turn right / left"},
    {"Ctrl+P", "print"},
    {"Ctrl+C", "copy the page shown (picture and file)"},
    {"Ctrl+G", "go to a file and page (3 or 3/2)"},
    {"Ctrl+F or /", "type an identifier"},
    {"Esc", "hide the viewer"},
    {"F1", "this list"},
    {"Wheel / Shift+wheel", "zoom in and out / scroll"},
    {"Click / double click", "a quarter turn right / upright"},
    {"Drag (either button)", "move a page larger than the window"},
    {"Right click", "the page's menu"},
    {"Drag the file name, or Ctrl+drag the page", "the file out, to a folder or a mail"},
};

} // namespace

void TLumivaneViewerForm::InstallKeys() {
    qApp->installEventFilter(
        new TWindowKeyFilter(this, [this](const QWidget* ATarget, const QKeyEvent* AKey) {
            bool handled = false;
            Guarded(this, [&] { handled = HandleWindowKey(ATarget, AKey); });
            return handled;
        }));
    // The picture takes the focus, so the single keys act when a search shows the window.
    tabForImage->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(edImageId, tabForImage);
    setTabOrder(tabForImage, btnBack);
    SetKeyToolTips();
}

void TLumivaneViewerForm::SetKeyToolTips() {
    btnBack->setToolTip(QStringLiteral("Back (Left)"));
    btnNext->setToolTip(QStringLiteral("Next (Right)"));
    tbZoom->setToolTip(
        QStringLiteral("Zoom (+ / - or the wheel; 1 for the picture's own pixels, 0 for the "
                       "fitted size)"));
    arcdImageRotation->setToolTip(QStringLiteral("Rotation (R / Shift+R)"));
    swFitToWidth->setToolTip(QStringLiteral("Fit to width (W)"));
    lblFitToWidth->setToolTip(swFitToWidth->toolTip());
    BtnPrint->setToolTip(QStringLiteral("Print (Ctrl+P)"));
    edImageId->setToolTip(QStringLiteral("Identifier (Ctrl+F or /)"));
    btnForm->setToolTip(QStringLiteral("Show the images for the identifier (Enter)"));
    lblCurrentImageName->setToolTip(
        QStringLiteral("Drag the file name out to a folder or a mail to copy the file "
                       "(or Ctrl+drag the page)"));
}

bool TLumivaneViewerForm::HandleWindowKey(const QWidget* ATarget, const QKeyEvent* AKey) {
    // The identifier box has the keyboard, or a key was typed into it (digits are keys of
    // the picture too).
    const bool typing = edImageId->hasFocus() || ATarget == edImageId;
    const Qt::KeyboardModifiers mods = AKey->modifiers() & ~Qt::KeypadModifier;
    const int key = AKey->key();
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (mods & Qt::ControlModifier) {
        if (mods & Qt::ShiftModifier)
            return false;
        switch (key) {
        case Qt::Key_P:
            if (BtnPrint->isEnabled())
                BtnPrintClick();
            return true;
        case Qt::Key_C:
            // Text chosen in the identifier box is what the user copies there.
            if (typing && edImageId->hasSelectedText())
                return false;
            CopyImage();
            return true;
        case Qt::Key_F:
            FocusIdentifierBox();
            return true;
        case Qt::Key_G:
            AskGoTo();
            return true;
        default:
            return false;
        }
    }
    if (key == Qt::Key_Escape && mods == Qt::NoModifier) {
        close(); // as closing the window: placement saved, the host told
        return true;
    }
    if (key == Qt::Key_F1 && mods == Qt::NoModifier) {
        ShowKeyHelp();
        return true;
    }
    if (key == Qt::Key_F9 && mods == Qt::NoModifier) {
        ToggleStrip();
        return true;
    }
    // The strip moves its own focus with these, and Enter shows the page focused.
    if (StripHasFocus() && mods == Qt::NoModifier &&
        (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down ||
         key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_Return ||
         key == Qt::Key_Enter))
        return false;
    // Pages turn wherever the focus is: the identifier box has no use for these keys.
    if ((key == Qt::Key_PageDown || key == Qt::Key_PageUp) && mods == Qt::NoModifier) {
        if (MayStep())
            FBrowse->StepPage(key == Qt::Key_PageDown ? 1 : -1);
        return true;
    }
    // Typing an identifier never pages or turns.
    if (typing)
        return false;
    const bool shift = mods & Qt::ShiftModifier;
    const QSizeF area = tabForImage->size();
    // A button or the list with the keyboard presses or opens with Space, and the list
    // moves with Up and Down: those stay theirs.
    const QWidget* focus = QApplication::focusWidget();
    const bool focusOnList = focus == cbxImageList;
    const bool focusOnButton = qobject_cast<const QAbstractButton*>(focus) != nullptr;
    switch (key) {
    case Qt::Key_Right:
        if (shift)
            ScrollBy({area.width() / 10, 0});
        else
            btnNextClick();
        return true;
    case Qt::Key_Left:
        if (shift)
            ScrollBy({-area.width() / 10, 0});
        else
            btnBackClick();
        return true;
    case Qt::Key_Down:
    case Qt::Key_Up:
        if (shift || focusOnList)
            return false;
        ScrollBy({0, (key == Qt::Key_Down ? 1 : -1) * area.height() / 10});
        return true;
    case Qt::Key_Space:
        if (focusOnList || focusOnButton)
            return false;
        if (!shift && AtPageEnd()) {
            // As document viewers do: at the end of the page, on to the next.
            if (MayStep())
                FBrowse->StepPage(1);
        } else {
            ScrollBy({0, (shift ? -0.9 : 0.9) * area.height()});
        }
        return true;
    case Qt::Key_1:
        if (shift)
            return false;
        ShowActualPixels();
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (shift)
            return false;
        ShowFirstOrLast(key == Qt::Key_End);
        return true;
    case Qt::Key_Plus:
        ZoomStep(1);
        return true;
    case Qt::Key_Minus:
        ZoomStep(-1);
        return true;
    case Qt::Key_0:
        if (shift)
            return false;
        FitImage(swFitToWidth->isChecked());
        return true;
    case Qt::Key_W:
        if (shift)
            return false;
        swFitToWidth->toggle();
        return true;
    case Qt::Key_R:
        TurnQuarter(shift ? -1 : 1);
        return true;
    case Qt::Key_T:
        if (shift)
            return false;
        ToggleStrip();
        return true;
    case Qt::Key_Slash:
        FocusIdentifierBox();
        return true;
    case Qt::Key_Menu:
        ShowPictureMenu(tabForImage->mapToGlobal(tabForImage->rect().center()));
        return true;
    default:
        return false;
    }
}

void TLumivaneViewerForm::ShowFirstOrLast(bool ALast) {
    if (MayStep())
        FBrowse->SelectFirstOrLast(ALast);
}

void TLumivaneViewerForm::ZoomStep(int ADirection) {
    // One notch of the wheel.
    tbZoom->SetValue(lvgeometry::WheelZoom(static_cast<float>(tbZoom->Value()), 120 * ADirection));
}

void TLumivaneViewerForm::TurnQuarter(int ADirection) {
    SetRotation(static_cast<int>(
        std::lround(lvgeometry::NormalizeDialAngle(arcdImageRotation->Angle() + 90 * ADirection))));
    RememberTurn();
}

void TLumivaneViewerForm::FocusPicture() {
    tabForImage->setFocus(Qt::OtherFocusReason);
}

void TLumivaneViewerForm::FocusIdentifierBox() {
    edImageId->setFocus(Qt::ShortcutFocusReason);
    edImageId->selectAll();
}

void TLumivaneViewerForm::ShowKeyHelp() {
    if (!FKeyHelp) {
        auto* help = new QDialog(this);
        help->setObjectName(QStringLiteral("keyHelp"));
        help->setWindowTitle(QStringLiteral("Keys - Lumivane Viewer"));
        help->setAttribute(Qt::WA_DeleteOnClose);
        QString rows;
        for (const TKeyHelpRow& row : kKeyHelp)
            rows += QStringLiteral("<tr><td><b>%1</b></td><td>&nbsp;&nbsp;%2</td></tr>")
                        .arg(QString::fromUtf8(row.Keys).toHtmlEscaped(),
                             QString::fromUtf8(row.Does).toHtmlEscaped());
        auto* text =
            new QLabel(QStringLiteral("<table>") + rows + QStringLiteral("</table>"), help);
        text->setObjectName(QStringLiteral("keyHelpText"));
        text->setTextFormat(Qt::RichText);
        auto* close = new QPushButton(QStringLiteral("Close"), help);
        connect(close, &QPushButton::clicked, help, &QDialog::close);
        auto* layout = new QVBoxLayout(help);
        layout->addWidget(text);
        layout->addWidget(close, 0, Qt::AlignRight);
        FKeyHelp = help;
    }
    FKeyHelp->show();
    FKeyHelp->raise();
    FKeyHelp->activateWindow();
}

void TLumivaneViewerForm::AskGoTo() {
    if (FGoTo) {
        FGoTo->raise();
        FGoTo->activateWindow();
        return;
    }
    if (Count() == 0)
        return;
    auto* ask = new QDialog(this);
    ask->setObjectName(QStringLiteral("goToPage"));
    ask->setWindowTitle(QStringLiteral("Go to - Lumivane Viewer"));
    ask->setAttribute(Qt::WA_DeleteOnClose);
    auto* prompt = new QLabel(QStringLiteral("File, or file/page (3 or 3/2):"), ask);
    auto* edit = new QLineEdit(ask);
    edit->setObjectName(QStringLiteral("edGoTo"));
    prompt->setBuddy(edit);
    auto* why = new QLabel(ask);
    why->setObjectName(QStringLiteral("lblGoToWhy"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, ask);
    QPushButton* go = buttons->button(QDialogButtonBox::Ok);
    go->setText(QStringLiteral("Go"));
    go->setDefault(true);
    // Where the user is, to start from: the title line's numbers.
    const TBrowsePosition shown = FBrowse->Shown();
    if (!shown.IsEmpty())
        edit->setText(ShownPageCount() > 1
                          ? QStringLiteral("%1/%2").arg(shown.File + 1).arg(shown.Page + 1)
                          : QString::number(shown.File + 1));
    edit->selectAll();
    // Checked against the list as it is at each keystroke (fresh scans may change it);
    // Enter and Go do nothing until it names a page there is.
    const auto check = [this, edit, why, go] {
        QString reason;
        go->setEnabled(FBrowse->GoToTarget(edit->text(), &reason).has_value());
        why->setText(reason);
    };
    connect(edit, &QLineEdit::textChanged, ask, check);
    check();
    connect(buttons, &QDialogButtonBox::rejected, ask, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, ask, [this, ask, edit] {
        Guarded(this, [&] {
            const std::optional<TBrowsePosition> at = FBrowse->GoToTarget(edit->text());
            if (!at)
                return;
            ask->accept();
            if (MayStep())
                FBrowse->Select(at->File, at->Page);
        });
    });
    auto* layout = new QVBoxLayout(ask);
    layout->addWidget(prompt);
    layout->addWidget(edit);
    layout->addWidget(why);
    layout->addWidget(buttons);
    FGoTo = ask;
    // Esc cancels; the window goes on meanwhile.
    ask->open();
}
