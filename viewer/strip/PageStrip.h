// TPageStrip: the page strip beside the picture, a list view over TPageStripModel with one
// tile per page. Only the tiles in view have their thumbnails decoded; the current page is
// highlighted and kept in view. A click, or Enter on the focused tile, shows that page;
// the arrow keys move the focus within the strip.
#pragma once

#include <QListView>

class QTimer;
class TBrowseModel;
class TPageStripModel;

class TPageStrip : public QListView {
    Q_OBJECT
public:
    // The strip's width in the window, its scroll bar included (logical pixels).
    static constexpr int kWidth = 112;

    TPageStrip(TPageStripModel& AModel, TBrowseModel& ABrowse, QWidget* parent = nullptr);

    TPageStripModel& StripModel() const { return FModel; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Show(const QModelIndex& AIndex);
    void ScheduleVisible();
    void AskVisible();
    void FollowCurrent(int ARow);
    void UpdateThumbnailSide();

    TPageStripModel& FModel;
    TBrowseModel& FBrowse;
    QTimer* FVisibleTimer;
};
