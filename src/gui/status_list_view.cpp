#include "gui/status_list_view.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QToolTip>

namespace korvimo::gui {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Draws a line with its tabs expanded to fixed stops. The statistics lines are built from
// tabs ("GetRequests:\t%-10lu\t\tGetBulkRequests:\t%-10lu"); with stops every
// kTabStopColumns characters of a fixed-width font, their labels and counters stand in
// columns.
//
// A line that the list cuts (wider than the list, or scrolled partly out of sight) shows whole
// in a tooltip, wrapped to lines of a readable width. Lines keep one line's height each, so
// the list stays as fast as before: nothing is measured until the pointer rests on a line.
class TabbedLineDelegate final : public QStyledItemDelegate {
  public:
    TabbedLineDelegate(const QFont& font, QObject* parent)
        : QStyledItemDelegate(parent),
          tabStop_(kTabStopColumns * QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '))) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        const QWidget* widget = item.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        // Background, selection and focus as the style draws them; then the text.
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        const QRectF area = textArea(style, item);
        const bool selected = (item.state & QStyle::State_Selected) != 0;
        const QPalette::ColorGroup group =
            (item.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
        QTextOption layout(Qt::AlignLeft | Qt::AlignVCenter);
        layout.setWrapMode(QTextOption::NoWrap);
        layout.setTabStopDistance(tabStop_);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(
            item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(area, text, layout);
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip ||
            !index.isValid()) {
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        }
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString text = item.text;
        const QRectF area = textArea(view->style(), item);
        const qreal width =
            QFontMetricsF(item.font)
                .size(Qt::TextSingleLine | Qt::TextExpandTabs, text, qRound(tabStop_))
                .width();
        const bool cut = area.left() < 0 || area.left() + width > view->viewport()->width();
        if (!cut) {
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        }
        // Rich text, so that the tooltip wraps the line instead of running off the screen.
        const QString shown =
            QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + "</p>";
        QToolTip::showText(event->globalPos(), shown, view->viewport(), option.rect);
        return true;
    }

  private:
    static QRectF textArea(const QStyle* style, const QStyleOptionViewItem& item) {
        const QStyle* drawing = style != nullptr ? style : QApplication::style();
        return QRectF(drawing->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget))
            .adjusted(2, 0, 0, 0);
    }

    static constexpr int kTabStopColumns = 12;
    qreal tabStop_;
};

}  // namespace

StatusListView::StatusListView(StatusList& list, QListWidget* widget)
    : state_(std::make_shared<State>()) {
    state_->widget = widget;
    // Every line has the height of one text line; Qt then lays out thousands of lines without
    // measuring each one.
    widget->setUniformItemSizes(true);
    widget->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    widget->setItemDelegate(new TabbedLineDelegate(widget->font(), widget));
    widget->clear();
    for (const std::string& line : list.lines()) {
        widget->addItem(toQString(line));
    }
    std::weak_ptr<State> weak = state_;
    list.onChange([weak](const StatusList::Change& change) {
        if (std::shared_ptr<State> state = weak.lock()) {
            apply(*state, change);
        }
    });
}

void StatusListView::apply(State& state, const StatusList::Change& change) {
    QListWidget* widget = state.widget;
    if (widget == nullptr) {
        return;
    }
    ++state.changes;
    const int position = static_cast<int>(change.position);
    switch (change.kind) {
        case StatusList::ChangeKind::Appended: {
            QScrollBar* bar = widget->verticalScrollBar();
            const bool atBottom = bar == nullptr || bar->value() == bar->maximum();
            widget->addItem(toQString(change.text));
            if (atBottom) {
                widget->scrollToBottom();
            }
            break;
        }
        case StatusList::ChangeKind::Inserted:
            widget->insertItem(position, toQString(change.text));
            break;
        case StatusList::ChangeKind::Removed:
            delete widget->takeItem(position);
            break;
        case StatusList::ChangeKind::Cleared:
            widget->clear();
            break;
    }
}

}  // namespace korvimo::gui
