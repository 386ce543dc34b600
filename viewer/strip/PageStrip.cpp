#include "viewer/strip/PageStrip.h"

#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/browse/BrowseModel.h"
#include "viewer/strip/PageStripModel.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTile = 88;       // a tile's side for the picture, logical pixels
constexpr int kLabel = 16;      // the label under it
constexpr int kMaxDevice = 100; // 100 x 100 at two bytes a pixel: 100 tiles within 2 MiB

// Paints a tile: the thumbnail fitted in its square (the error colour and the reason for a
// page that cannot be shown), the label under it, a frame around the current page.
class TTileDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {kTile + 8, kTile + kLabel + 8};
    }

    void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
               const QModelIndex& AIndex) const override {
        const QRect cell = AOption.rect.adjusted(4, 4, -4, -4);
        const QRect square(cell.left(), cell.top(), cell.width(), kTile);
        const QRect label(cell.left(), square.bottom() + 1, cell.width(), kLabel);
        const bool current = AIndex.data(TPageStripModel::CurrentRole).toBool();
        const QString error = AIndex.data(TPageStripModel::ErrorRole).toString();
        APainter->save();
        if (current)
            APainter->fillRect(AOption.rect, AOption.palette.highlight().color().lighter(160));
        if (!error.isEmpty()) {
            APainter->fillRect(square, lvform::kLoadErrorColor);
            QFont small = AOption.font;
            small.setPixelSize(9);
            APainter->setFont(small);
            APainter->setPen(Qt::black);
            APainter->drawText(square.adjusted(3, 3, -3, -3), Qt::AlignCenter | Qt::TextWordWrap,
                               error);
        } else {
            const QImage thumb = AIndex.data(TPageStripModel::ThumbnailRole).value<QImage>();
            if (thumb.isNull()) {
                APainter->fillRect(square, AOption.palette.midlight());
            } else {
                // Fitted to the square: at high scales the tile holds fewer pixels than the
                // square, so 100 tiles keep within 2 MiB.
                QSizeF size = thumb.size();
                size.scale(QSizeF(square.size()), Qt::KeepAspectRatio);
                QRectF target(QPointF(0, 0), size);
                target.moveCenter(QRectF(square).center());
                APainter->drawImage(target, thumb);
            }
        }
        if (current) {
            APainter->setPen(QPen(AOption.palette.highlight().color(), 2));
            APainter->drawRect(QRectF(AOption.rect).adjusted(1, 1, -1, -1));
        } else if (AOption.state & QStyle::State_HasFocus) {
            APainter->setPen(QPen(AOption.palette.highlight().color(), 1, Qt::DotLine));
            APainter->drawRect(QRectF(AOption.rect).adjusted(1, 1, -1, -1));
        }
        QFont font = AOption.font;
        font.setPixelSize(10);
        APainter->setFont(font);
        APainter->setPen(AOption.palette.text().color());
        APainter->drawText(label, Qt::AlignCenter,
                           QFontMetrics(font).elidedText(AIndex.data().toString(), Qt::ElideMiddle,
                                                         label.width()));
        APainter->restore();
    }
};

} // namespace

TPageStrip::TPageStrip(TPageStripModel& AModel, TBrowseModel& ABrowse, QWidget* parent)
    : QListView(parent), FModel(AModel), FBrowse(ABrowse), FVisibleTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("PageStrip"));
    setModel(&FModel);
    setItemDelegate(new TTileDelegate(this));
    setUniformItemSizes(true); // 1,000 tiles lay out without asking each one
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(QStringLiteral("Pages (F9 or T)"));
    FVisibleTimer->setSingleShot(true);
    FVisibleTimer->setInterval(0);
    connect(FVisibleTimer, &QTimer::timeout, this, [this] { AskVisible(); });
    connect(this, &QListView::clicked, this, [this](const QModelIndex& AIndex) { Show(AIndex); });
    connect(this, &QListView::activated, this, [this](const QModelIndex& AIndex) { Show(AIndex); });
    connect(&FModel, &TPageStripModel::CurrentRowChanged, this,
            [this](int ARow) { FollowCurrent(ARow); });
    connect(&FModel, &QAbstractItemModel::modelReset, this, [this] { ScheduleVisible(); });
    connect(&FModel, &QAbstractItemModel::rowsInserted, this, [this] { ScheduleVisible(); });
    connect(&FModel, &QAbstractItemModel::rowsRemoved, this, [this] { ScheduleVisible(); });
    UpdateThumbnailSide();
}

void TPageStrip::Show(const QModelIndex& AIndex) {
    const TBrowsePosition at = FModel.PositionAt(AIndex.row());
    if (!at.IsEmpty())
        FBrowse.Select(at.File, at.Page);
}

void TPageStrip::FollowCurrent(int ARow) {
    if (ARow < 0)
        return;
    const QModelIndex current = FModel.index(ARow);
    // The focus follows the page, so the arrows go on from it.
    if (!hasFocus() || currentIndex() != current)
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    if (isVisible())
        scrollTo(current, QAbstractItemView::EnsureVisible);
    ScheduleVisible();
}

void TPageStrip::ScheduleVisible() {
    if (isVisible())
        FVisibleTimer->start();
}

void TPageStrip::AskVisible() {
    if (!isVisible() || FModel.rowCount() == 0) {
        FModel.SetVisibleRows(0, -1);
        return;
    }
    const QRect area = viewport()->rect();
    const QModelIndex first = indexAt(area.topLeft() + QPoint(4, 4));
    QModelIndex last = indexAt(QPoint(area.left() + 4, area.bottom() - 1));
    const int lastRow = last.isValid() ? last.row() : FModel.rowCount() - 1;
    FModel.SetVisibleRows(first.isValid() ? first.row() : 0, lastRow);
}

void TPageStrip::UpdateThumbnailSide() {
    const qreal dpr = devicePixelRatioF();
    FModel.SetThumbnailSide(std::min(kMaxDevice, static_cast<int>(std::ceil(kTile * dpr))));
}

void TPageStrip::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    ScheduleVisible();
}

void TPageStrip::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    // Tiles scrolled away leave the queue; those come into view join it.
    ScheduleVisible();
}

void TPageStrip::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    UpdateThumbnailSide();
    FollowCurrent(FModel.CurrentRow());
}

void TPageStrip::hideEvent(QHideEvent* event) {
    QListView::hideEvent(event);
    FVisibleTimer->stop();
    FModel.SetVisibleRows(0, -1);
}

void TPageStrip::changeEvent(QEvent* event) {
    QListView::changeEvent(event);
    if (event->type() == QEvent::ScreenChangeInternal)
        UpdateThumbnailSide();
}
