#include "accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialog>
#include <QMenu>
#include <QWidget>

namespace platform {
namespace {

class ShownChildrenOnly : public QAccessibleWidget {
 public:
  ShownChildrenOnly(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  int childCount() const override { return static_cast<int>(shownChildren().size()); }

  QAccessibleInterface* child(int index) const override {
    const QWidgetList shown = shownChildren();
    if (index < 0 || index >= shown.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(shown.at(index));
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child) return -1;
    return static_cast<int>(shownChildren().indexOf(qobject_cast<QWidget*>(child->object())));
  }

 private:
  QWidgetList shownChildren() const {
    QWidgetList shown;
    for (QObject* object : widget()->children()) {
      auto* child = qobject_cast<QWidget*>(object);
      if (child && !child->isWindow() && !child->isHidden() && !qobject_cast<QMenu*>(child))
        shown << child;
    }
    return shown;
  }
};

// Called for each class of an object from the most derived one up, before
// Qt's own interfaces for the classes Qt knows: it takes the program's
// windows (classes of its own, which Qt does not know) and plain containers.
QAccessibleInterface* containerInterface(const QString& className, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return nullptr;
  const bool programWindow = widget->isWindow() && !className.startsWith(QLatin1Char('Q'));
  if (!programWindow && className != QLatin1String("QWidget")) return nullptr;
  QAccessible::Role role = QAccessible::Client;
  if (widget->isWindow())
    role = qobject_cast<QDialog*>(widget) ? QAccessible::Dialog : QAccessible::Window;
  return new ShownChildrenOnly(widget, role);
}

}  // namespace

void leaveHiddenWidgetsOutOfAccessibility() {
  QAccessible::installFactory(containerInterface);
}

}  // namespace platform
