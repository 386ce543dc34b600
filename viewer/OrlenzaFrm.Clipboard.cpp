// The shown page leaves the viewer: copied to the clipboard (as a picture and as the
// file), dragged out to a file manager or a mail program, or found through the picture's
// context menu.
#include "viewer/OrlenzaFrm.h"

#include "viewer/ImageDecoding.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QThreadPool>
#include <QTransform>
#include <QUrl>

#include <algorithm>
#include <utility>

using namespace lvform;

namespace {

// A container names the image file it stands for on its first line, relative to its own
// folder unless rooted; when that file is not there, the container itself is the file.
QString ContainedImageFile(const TLumivaneImage& AImage) {
    QString own = Q(AImage.FullFileName());
    if (!own.endsWith(QStringLiteral(".lva"), Qt::CaseInsensitive) || AImage.Alias.empty())
        return own;
    QString named = Q(AImage.Alias).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (named.size() >= 2 && named.startsWith(QLatin1Char('"')) && named.endsWith(QLatin1Char('"')))
        named = named.mid(1, named.size() - 2);
    if (named.isEmpty())
        return own;
    const QString full = QDir(QFileInfo(own).absolutePath()).filePath(named);
    const QFileInfo info(full);
    return info.isFile() ? info.absoluteFilePath() : own;
}

// The picture as the window shows it: turned by the dial's angle about its centre.
QImage Turned(const QImage& AImage, int AAngle) {
    if (AAngle == 0 || AImage.isNull())
        return AImage;
    return AImage.transformed(QTransform().rotate(AAngle), Qt::SmoothTransformation);
}

} // namespace

void TLumivaneViewerForm::ResolveSelectedContainer() {
    // Containers are listed unread; the file a selected one names is read off the GUI
    // thread (a locked container is retried there), ready for a drag or a copy.
    const TLumivaneImage& selected = SelectedImage();
    if (selected.IsEmpty() || !selected.ContainerPending())
        return;
    const std::string path = selected.Path;
    const std::string file = selected.FullFileName();
    QPointer<TLumivaneViewerForm> self(this);
    QThreadPool::globalInstance()->start([self, path, file] {
        TLumivaneCantOpenReason reason = corNone;
        std::string text;
        ReadAliasText(file, reason, text);
        QMetaObject::invokeMethod(
            qApp,
            [self, path, reason, text = std::move(text)] {
                if (!self)
                    return;
                // Every entry of the path: the same file may be listed more than once.
                self->FBrowse->SetContainerText(path, reason, text);
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::ResolveContainers() {
    std::vector<std::pair<std::string, std::string>> pending; // path, file
    for (const TLumivaneImage& image : FBrowse->Images())
        if (image.ContainerPending() &&
            std::none_of(pending.begin(), pending.end(),
                         [&](const auto& AKnown) { return AKnown.first == image.Path; }))
            pending.emplace_back(image.Path, image.FullFileName());
    if (pending.empty())
        return;
    QPointer<TLumivaneViewerForm> self(this);
    // The worker asks the flag, never the QPointer: that one belongs to the GUI thread, and
    // reading it while the window is taken apart races with the teardown.
    QThreadPool::globalInstance()->start([self, alive = FAlive, pending = std::move(pending)] {
        for (const auto& [path, file] : pending) {
            if (!alive->load())
                return;
            TLumivaneCantOpenReason reason = corNone;
            std::string text;
            ReadAliasText(file, reason, text);
            QMetaObject::invokeMethod(
                qApp,
                [self, path, reason, text = std::move(text)] {
                    if (self)
                        self->FBrowse->SetContainerText(path, reason, text);
                },
                Qt::QueuedConnection);
        }
    });
}

void TLumivaneViewerForm::InstallClipboard() {
    FCopyWorker = new QThreadPool(this);
    FCopyWorker->setObjectName(QStringLiteral("CopyWorker"));
    FCopyWorker->setMaxThreadCount(1);
    // Menus open on a right click that did not pan (see the input handlers).
    Image->setContextMenuPolicy(Qt::PreventContextMenu);
    tabForImage->setContextMenuPolicy(Qt::PreventContextMenu);
}

QString TLumivaneViewerForm::SelectedImageFile() const {
    const TLumivaneImage selected = SelectedImage();
    return selected.IsEmpty() ? QString() : ContainedImageFile(selected);
}

QMimeData* TLumivaneViewerForm::FileMimeData() const {
    auto* mime = new QMimeData;
    const QString file = SelectedImageFile();
    if (!file.isEmpty())
        mime->setUrls({QUrl::fromLocalFile(file)});
    return mime;
}

void TLumivaneViewerForm::CopyImage() {
    if (!FHasPicture)
        return;
    // The full picture is decoded off the GUI thread; the clipboard is set once it is
    // ready, unless another copy was asked for in the meantime.
    const QString file = Q(FBitmapFile);
    const QString url = SelectedImageFile();
    const int angle = arcdImageRotation->Angle();
    const int copy = ++FCopyGeneration;
    QPointer<TLumivaneViewerForm> self(this);
    FCopyWorker->start([self, file, url, angle, copy] {
        QImage picture;
        QString failure;
        try {
            picture = Turned(DecodeForDisplay(file, QSize()).image, angle);
        } catch (const std::exception& e) {
            failure = QString::fromStdString(e.what());
        } catch (...) {
            failure = QStringLiteral("the picture could not be read");
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, picture = std::move(picture), failure, url, copy] {
                if (!self || copy != self->FCopyGeneration)
                    return;
                if (!failure.isEmpty()) {
                    Guarded(self.data(), [&] {
                        throw std::runtime_error(("Copy image: " + failure).toStdString());
                    });
                    return;
                }
                auto* mime = new QMimeData;
                mime->setImageData(picture);
                mime->setUrls({QUrl::fromLocalFile(url)});
                QGuiApplication::clipboard()->setMimeData(mime);
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::CopyFilePath() {
    const QString file = SelectedImageFile();
    if (file.isEmpty())
        return;
    auto* mime = new QMimeData;
    mime->setText(QDir::toNativeSeparators(file));
    mime->setUrls({QUrl::fromLocalFile(file)});
    QGuiApplication::clipboard()->setMimeData(mime);
}

void TLumivaneViewerForm::OpenContainingFolder() {
    const QString file = SelectedImageFile();
    if (file.isEmpty())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath())))
        throw std::runtime_error("The folder of " + file.toStdString() + " could not be opened");
}

QMenu* TLumivaneViewerForm::CreatePictureMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("pictureMenu"));
    const bool selected = !SelectedImage().IsEmpty();
    auto add = [&](const QString& AText, const QString& AName, bool AEnabled,
                   std::function<void()> AAction) {
        QAction* action = menu->addAction(AText);
        action->setObjectName(AName);
        action->setEnabled(AEnabled);
        connect(action, &QAction::triggered, this,
                [this, run = std::move(AAction)] { Guarded(this, run); });
        return action;
    };
    add(QStringLiteral("Copy image\tCtrl+C"), QStringLiteral("actCopyImage"), FHasPicture,
        [this] { CopyImage(); });
    add(QStringLiteral("Copy file path"), QStringLiteral("actCopyFilePath"), selected,
        [this] { CopyFilePath(); });
    add(QStringLiteral("Open containing folder"), QStringLiteral("actOpenFolder"), selected,
        [this] { OpenContainingFolder(); });
    menu->addSeparator();
    add(QStringLiteral("Turn right\tR"), QStringLiteral("actTurnRight"), true,
        [this] { TurnQuarter(1); });
    add(QStringLiteral("Turn left\tShift+R"), QStringLiteral("actTurnLeft"), true,
        [this] { TurnQuarter(-1); });
    QAction* fit = add(QStringLiteral("Fit to width\tW"), QStringLiteral("actFitToWidth"), true,
                       [this] { swFitToWidth->toggle(); });
    fit->setCheckable(true);
    fit->setChecked(swFitToWidth->isChecked());
    menu->addSeparator();
    add(QStringLiteral("Print...\tCtrl+P"), QStringLiteral("actPrint"), BtnPrint->isEnabled(),
        [this] { BtnPrintClick(); });
    return menu;
}

void TLumivaneViewerForm::ShowPictureMenu(QPoint AGlobalPosition) {
    QMenu* menu = CreatePictureMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(AGlobalPosition);
}

void TLumivaneViewerForm::StartFileDrag(QObject* ASource) {
    if (SelectedImage().IsEmpty())
        return;
    auto* drag = new QDrag(ASource);
    drag->setMimeData(FileMimeData());
    if (!Image->IsBitmapEmpty()) {
        const QImage thumb =
            Image->Bitmap().scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        drag->setPixmap(QPixmap::fromImage(thumb));
    }
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}
