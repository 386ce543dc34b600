#include "app/Orlenza.Form.h"

#include <QMessageBox>

#include <cstdio>
#include <stdexcept>

TOrlenzaForm::TOrlenzaForm(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {}

void TOrlenzaForm::ShowForm() {
    show();
    raise();
    activateWindow();
}

void TOrlenzaForm::CloseForm() {
    close();
}

QString ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void ReportError(QWidget* parent, const std::exception_ptr& error) {
    const QString text = ErrorText(error);
    std::fprintf(stderr, "lumivane-viewer: %s\n", text.toUtf8().constData());
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Lumivane Viewer"), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("errorReport"));
    box->setModal(false);
    box->show();
}

bool Guarded(QWidget* parent, const std::function<void()>& fn) {
    try {
        fn();
        return true;
    } catch (...) {
        ReportError(parent, std::current_exception());
        return false;
    }
}
