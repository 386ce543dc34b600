// What the viewer window tests share: a view controller that records the states written,
// a block created the way a host creates it, and scanned-looking pages.
#pragma once

#include "app/Orlenza.FormCommon.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "images/Orlenza.Types.h"
#include "platform/SharedMemory.h"
#include "viewcontrol/Orlenza.ViewController.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lvtest {

// Forwards to the real view controller and remembers the view states in the order they
// were written, since the block itself only holds the last one.
class StateRecorder : public ILvViewController {
public:
    explicit StateRecorder(std::shared_ptr<ILvViewController> AReal) : Real(std::move(AReal)) {}
    void CloseMainForm() override { Real->CloseMainForm(); }
    IOrlenzaForm* ToolbarForm() const override { return Real->ToolbarForm(); }
    IOrlenzaForm* MainForm() const override { return Real->MainForm(); }
    IOrlenzaForm* ViewerForm() const override { return Real->ViewerForm(); }
    TMemoryMappedControlFile* ControlFile() const override { return Real->ControlFile(); }
    void SetControlFile(std::unique_ptr<TMemoryMappedControlFile> f) override {
        Real->SetControlFile(std::move(f));
    }
    void ShowNewImage(const std::string& t) override { Real->ShowNewImage(t); }
    void SetOnCloseImageAndHide(TNotifyEvent e) override {
        Real->SetOnCloseImageAndHide(std::move(e));
    }
    TNotifyEvent OnCloseImageAndHide() const override { return Real->OnCloseImageAndHide(); }
    TNotifyEvent StateEvent() override { return Real->StateEvent(); }
    void ChangeViewState(TImageViewerState s) override {
        States.push_back(s);
        Real->ChangeViewState(s);
    }
    bool SearchTextIsValidForSearch(const std::string& t) override {
        return Real->SearchTextIsValidForSearch(t);
    }
    TPreparedImageSearch PrepareImageSearch(const std::string& t) override {
        TPreparedImageSearch search = Real->PrepareImageSearch(t);
        // The real search of the real folders, held on its worker for as long as a test
        // needs to act while it runs.
        if (BeforeListing && search.Run)
            search.Run = [hold = BeforeListing, run = std::move(search.Run)] {
                hold();
                return run();
            };
        return search;
    }
    void SaveState(IPlacementForm& f, const TPositionTrackerEvent& c) override {
        Real->SaveState(f, c);
    }
    void LoadState(IPlacementForm& f, const TPositionTrackerEvent& d,
                   const TPositionTrackerEvent& c) override {
        Real->LoadState(f, d, c);
    }
    std::string StoreName() const override { return Real->StoreName(); }

    std::shared_ptr<ILvViewController> Real;
    std::vector<TImageViewerState> States;
    // Called on the listing's worker before each search prepared from now on runs.
    std::function<void()> BeforeListing;
};

// A block as the host creates it, with the image information naming one source folder.
struct HostBlock {
    HostBlock(const QString& ASource, const char* APattern,
              const std::string& AConnection = "viewer-test-host")
        : Name("lvtest-viewer-" + std::to_string(getpid()) + "-" + std::to_string(Counter++)),
          View(lvplatform::CreateSharedMemory(Name, lvcontrol::kBlockSize)) {
        const std::string json =
            "{\"Source\":\"" + ASource.toStdString() + "\",\"Pattern\":\"" + APattern + "\"}";
        std::memcpy(View->Data() + lvcontrol::kImageInformation, json.c_str(), json.size() + 1);
        std::memcpy(View->Data() + lvcontrol::kConnectionName, AConnection.c_str(),
                    AConnection.size() + 1);
    }
    ~HostBlock() { lvplatform::RemoveSharedMemory(Name); }
    std::uint8_t& At(std::size_t AOffset) const { return View->Data()[AOffset]; }
    TImageViewerState ViewState() const {
        return static_cast<TImageViewerState>(At(lvcontrol::kViewState));
    }
    static inline int Counter = 0;
    std::string Name;
    std::unique_ptr<lvplatform::ISharedMemoryView> View;
};

// A scanned-looking page: white paper, a heading bar and lines of text in a colour that
// tells the files apart.
inline QImage DocumentPage(QSize ASize, QColor AInk, const QString& ACaption) {
    QImage page(ASize, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    const int margin = ASize.width() / 12;
    p.fillRect(QRect(margin, margin, ASize.width() - 2 * margin, ASize.height() / 14), AInk);
    QFont f;
    f.setPixelSize(std::max(8, ASize.height() / 45));
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(
        QRect(margin, margin + ASize.height() / 12, ASize.width() - 2 * margin, f.pixelSize() * 2),
        Qt::AlignLeft, ACaption);
    int y = margin + ASize.height() / 6;
    int line = 0;
    while (y < ASize.height() - margin) {
        const int len = (ASize.width() - 2 * margin) * (line % 5 == 4 ? 55 : 95) / 100;
        p.fillRect(QRect(margin, y, len, std::max(2, f.pixelSize() / 2)), QColor(40, 40, 40));
        y += f.pixelSize() * 3 / 2;
        ++line;
    }
    return page;
}

inline QColor CentreColour(const QImage& AImage) {
    return AImage.pixelColor(AImage.width() / 2, AImage.height() / 2);
}

// Starts the program as a host does (the block's name as argument 1) with the view
// controller the viewer window creates wrapped in a TRecorder (StateRecorder or a kind of
// it), which ARecorder receives. ARecorder must outlive the window's creation.
template <class TRecorder>
void InstallRecordingController(const std::string& ABlockName,
                                std::shared_ptr<TRecorder>& ARecorder) {
    SetProgramArguments({"lumivane-viewer", ABlockName});
    TOrlenzaViewController::InstallInitializer();
    const auto realInit = InitializeViewController;
    InitializeViewController = [&ARecorder, realInit] {
        realInit();
        ARecorder = std::make_shared<TRecorder>(ViewController);
        ViewController = ARecorder;
    };
}

} // namespace lvtest
