#include "platform/WindowDrag.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace {

// Watches the dragged window's mouse events; removes itself on release.
class DragFilter : public QObject {
public:
    DragFilter(QWidget* window, QPoint offset) : window_(window), offset_(offset) {
        window->installEventFilter(this);
    }
    ~DragFilter() override {
        if (current == this) current = nullptr;
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_) return false;
        switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* e = static_cast<QMouseEvent*>(event);
            if (e->buttons() == Qt::NoButton) {
                finish();
                return false;
            }
            window_->move(e->globalPosition().toPoint() - offset_);
            return true;
        }
        case QEvent::MouseButtonRelease:
            // Motion just before the release may have been folded into it.
            window_->move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - offset_);
            finish();
            return false;
        default:
            return false;
        }
    }

private:
    void finish() {
        if (window_) window_->removeEventFilter(this);
        deleteLater();
        current = nullptr;
    }

    QPointer<QWidget> window_;
    QPoint offset_;

public:
    static inline DragFilter* current = nullptr;
};

}  // namespace

namespace WindowDrag {

void begin(QWidget* window, QPoint globalPressPos) {
    if (DragFilter::current) return;
    DragFilter::current = new DragFilter(window, globalPressPos - window->pos());
    DragFilter::current->setParent(window);
}

bool active() { return DragFilter::current != nullptr; }

}  // namespace WindowDrag
