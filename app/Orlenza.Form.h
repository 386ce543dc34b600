// TOrlenzaForm: the Qt window base of the toolbar and the viewer window. It gives the
// controllers the window operations they call (IOrlenzaForm) and a guard that keeps
// exceptions out of Qt's event loop.
#pragma once

#include "app/Orlenza.FormCommon.h"

#include <QWidget>

#include <exception>
#include <functional>

class TOrlenzaForm : public QWidget, public IOrlenzaForm {
    Q_OBJECT
public:
    explicit TOrlenzaForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    void ShowForm() override;
    void CloseForm() override;
};

// The toolkit's default error report: the message on stderr and in a message box that
// does not block the timers. Used by every handler boundary.
void ReportError(QWidget* parent, const std::exception_ptr& error);
// The message an error carries, "Unknown error" when it carries none.
QString ErrorText(const std::exception_ptr& error);

// Runs fn; an exception from it is reported and goes no further. Returns false on error.
bool Guarded(QWidget* parent, const std::function<void()>& fn);
