// The viewer window's input: keys in the identifier box, the page turner, and the pointer
// on the image and its page.
#include "viewer/OrlenzaFrm.h"

#include "viewer/ImageGeometry.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>

using namespace lvform;

// ---------------------------------------------------------------------------------------
// Events of the components

bool TLumivaneViewerForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == edImageId) {
        if (type == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat())
                Guarded(this, [this, k = key->key()] { edImageIdKeyUp(k); });
        }
        return false;
    }
    if (watched == tabImage) {
        if (type == QEvent::Enter)
            Guarded(this, [this] { tabImageMouseEnter(); });
        return false;
    }
    if (watched == TopToolBar) {
        if (type == QEvent::Resize)
            Guarded(this, [this] { FitImageListWidth(); });
        return false;
    }
    if (watched == loPageTurner) {
        if (type == QEvent::Resize || type == QEvent::LayoutRequest)
            loPageTurner->setMask(QRegion(loPageTurnerButtons->geometry()));
        return false;
    }
    if (watched == tabForImage && type == QEvent::Resize) {
        loPageTurner->setGeometry(0, 0, tabForImage->width(), 24);
        loPageTurner->setMask(QRegion(loPageTurnerButtons->geometry()));
        // The tab control's resize: handled once its page has the new size, so the
        // picture is centred in the page as it now is.
        Guarded(this, [this] { tabImageResize(); });
        return false;
    }
    if (watched == lblCurrentImageName)
        return TitleMouseEvent(event);
    const bool onImage = watched == Image;
    if (!onImage && watched != tabForImage)
        return false;
    switch (type) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta =
            wheel->angleDelta().y() != 0 ? wheel->angleDelta().y() : wheel->angleDelta().x();
        if (wheel->modifiers() & Qt::ShiftModifier) {
            // Shift+wheel scrolls a tenth of the area per notch; the plain wheel zooms.
            Guarded(this, [this, delta] {
                ScrollBy({0, -delta / 120.0 * tabForImage->height() / 10});
            });
        } else {
            Guarded(this, [this, delta] { ImageMouseWheel(delta); });
        }
        // Handled once, whether the pointer is over the image or the page around it.
        wheel->accept();
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        FPressedOnImage = onImage;
        FPressedOnPage = !onImage;
        FPanMoved = false;
        FPressMoved = false;
        FPressAt = mouse->globalPosition();
        // Ctrl+drag takes the file out; a plain left drag pans.
        FDragFileOnMove = onImage && mouse->button() == Qt::LeftButton &&
                          (mouse->modifiers() & Qt::ControlModifier);
        if (onImage && !FDragFileOnMove) {
            const QPointF pos = Image->mapToParent(mouse->position());
            Guarded(this, [this, b = mouse->button(), pos] { ImageMouseDown(b, pos); });
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if ((mouse->buttons() & (Qt::LeftButton | Qt::RightButton)) &&
            (mouse->globalPosition() - FPressAt).manhattanLength() >=
                QApplication::startDragDistance())
            FPressMoved = true; // a drag now: its release turns nothing
        if (FDragFileOnMove && FPressMoved) {
            FDragFileOnMove = false;
            FPressedOnImage = false;
            Guarded(this, [this] { StartFileDrag(Image); });
            return true;
        }
        if (onImage) {
            const QPointF pos = Image->mapToParent(mouse->position());
            Guarded(this, [this, pos] { ImageMouseMove(pos); });
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (onImage)
            Guarded(this, [this] { ImageMouseUp(); });
        const bool pressedHere = onImage ? FPressedOnImage : FPressedOnPage;
        const bool inside = (onImage ? Image : static_cast<QWidget*>(tabForImage))
                                ->rect()
                                .contains(mouse->position().toPoint());
        // Only a click that did not move turns the page.
        const bool moved = FPressMoved || FPanMoved;
        const bool click = mouse->button() == Qt::LeftButton && !FSuppressNextClick &&
                           pressedHere && inside && !moved;
        // A right click that moved nothing opens the menu.
        const bool menu = mouse->button() == Qt::RightButton && pressedHere && !moved;
        FSuppressNextClick = false;
        FPressedOnImage = FPressedOnPage = false;
        FDragFileOnMove = false;
        if (click)
            Guarded(this, [this, onImage] { onImage ? ImageClick() : tabImageClick(); });
        if (menu)
            Guarded(this, [this, at = mouse->globalPosition().toPoint()] { ShowPictureMenu(at); });
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            FSuppressNextClick = true;
            Guarded(this, [this, onImage] { onImage ? ImageDblClick() : tabImageDblClick(); });
        }
        return true;
    }
    default:
        return false;
    }
}

bool TLumivaneViewerForm::TitleMouseEvent(QEvent* AEvent) {
    // The file name in the title line is where the file is dragged out from.
    switch (AEvent->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(AEvent);
        FTitlePressAt = mouse->button() == Qt::LeftButton ? mouse->globalPosition() : QPointF();
        // Taken, so the moves that follow come here.
        return !FTitlePressAt.isNull();
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(AEvent);
        if (FTitlePressAt.isNull() || !(mouse->buttons() & Qt::LeftButton) ||
            (mouse->globalPosition() - FTitlePressAt).manhattanLength() <
                QApplication::startDragDistance())
            return false;
        FTitlePressAt = QPointF();
        Guarded(this, [this] { StartFileDrag(lblCurrentImageName); });
        return true;
    }
    case QEvent::MouseButtonRelease:
        FTitlePressAt = QPointF();
        return false;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------
// Navigation and the identifier box

void TLumivaneViewerForm::btnNextClick() {
    if (MayStep())
        FBrowse->StepFile(+1);
}

void TLumivaneViewerForm::btnBackClick() {
    if (MayStep())
        FBrowse->StepFile(-1);
}

void TLumivaneViewerForm::cbxImageListChange() {
    SelectImage(cbxImageList->currentIndex() + 1);
}

void TLumivaneViewerForm::btnFormClick() {
    SearchFor(edImageId->text().toStdString());
}

void TLumivaneViewerForm::edImageIdKeyUp(int AKey) {
    FLastKeyPress = QDateTime::currentDateTime();
    btnForm->setEnabled(
        ViewController->SearchTextIsValidForSearch(edImageId->text().toStdString()));
    if (btnForm->isEnabled() && (AKey == Qt::Key_Return || AKey == Qt::Key_Enter))
        SearchFor(edImageId->text().toStdString());
}

void TLumivaneViewerForm::tabImageMouseEnter() {
    if (loPageTurnerButtons->height() < 10) {
        fanmPageTurnerHider->setDirection(QAbstractAnimation::Backward);
        fanmPageTurnerHider->start();
    }
}

void TLumivaneViewerForm::fanmPageTurnerHiderFinish() {
    loPageTurnerButtons->setVisible(fanmPageTurnerHider->direction() !=
                                    QAbstractAnimation::Backward);
}

// ---------------------------------------------------------------------------------------
// Pointer on the image

void TLumivaneViewerForm::ImageMouseWheel(int AWheelDelta) {
    tbZoom->SetValue(lvgeometry::WheelZoom(static_cast<float>(tbZoom->Value()), AWheelDelta));
}

void TLumivaneViewerForm::ImageClick() {
    RotateQuarterTurn();
    RememberTurn();
}
void TLumivaneViewerForm::tabImageClick() {
    RotateQuarterTurn();
    RememberTurn();
}
void TLumivaneViewerForm::ImageDblClick() {
    SetRotation(0);
    RememberTurn();
}
void TLumivaneViewerForm::tabImageDblClick() {
    SetRotation(0);
    RememberTurn();
}

void TLumivaneViewerForm::ImageMouseDown(Qt::MouseButton AButton, QPointF APosition) {
    FPanButton = AButton;
    if (AButton == Qt::RightButton) {
        Image->setCursor(Qt::PointingHandCursor);
        FPanAnchorX = static_cast<float>(APosition.x());
        FPanAnchorY = static_cast<float>(APosition.y());
    } else if (AButton == Qt::LeftButton && IsLargerThanArea()) {
        // The left button pans too, where there is somewhere to pan to.
        Image->setCursor(Qt::ClosedHandCursor);
        FPanAnchorX = static_cast<float>(APosition.x());
        FPanAnchorY = static_cast<float>(APosition.y());
    } else {
        FPanAnchorX = 0;
        FPanAnchorY = 0;
    }
}

void TLumivaneViewerForm::ImageMouseMove(QPointF APosition) {
    if (FPanButton != Qt::RightButton && FPanButton != Qt::LeftButton)
        return;
    // Anchors are in the page's coordinates, which do not move with the image, so the
    // picture follows the pointer step for step.
    const lvgeometry::TPanStep x =
        lvgeometry::PanAxis(FPanAnchorX, static_cast<float>(APosition.x()));
    const lvgeometry::TPanStep y =
        lvgeometry::PanAxis(FPanAnchorY, static_cast<float>(APosition.y()));
    FPanAnchorX = x.Anchor;
    FPanAnchorY = y.Anchor;
    if (x.Delta != 0 || y.Delta != 0) {
        FPanMoved = true;
        FPanOffset += QPointF(x.Delta, y.Delta);
        Image->SetBounds(Image->Bounds().translated(x.Delta, y.Delta));
    }
}

void TLumivaneViewerForm::ImageMouseUp() {
    FPanAnchorX = 0;
    FPanAnchorY = 0;
    Image->unsetCursor();
}
