// File/Print: choose a printer (or a PDF file) and print the parameter list.
#include <QDir>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <ctime>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "recipe/qt/QtPrintDevice.h"
#include "platform/qt/QtText.h"
#include "recipe/Printout.h"
#include "unit/Unit.h"

namespace {

// Without a printer set up, the list goes to a PDF file; the dialog offers
// the name and the user may change it: beside the recipe, else in the folder
// last used, else in the home folder.
QString DefaultPdfPath(const std::string& recipePath, const std::string& folder)
{
    if (!recipePath.empty())
        return Q(recipePath) + QStringLiteral(".pdf");
    const QDir dir = folder.empty() ? QDir::home() : QDir(Q(folder));
    return dir.filePath(QStringLiteral("Vorlent Recipe.pdf"));
}

}  // namespace

void CDarozozazWindowsDlg::OnFilePrint()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Vorlent Recipe"));
    printer.setPageOrientation(QPageLayout::Landscape);
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(DefaultPdfPath(m_strRecipePath, FileDialogFolder()));
    }

    // The whole list only: no page range, no selection, no current page.
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("print"));
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    if (RunModal(dialog) != QDialog::Accepted)
        return;
    if (!printer.outputFileName().isEmpty())
        RememberFolderOf(S(printer.outputFileName()));

    // The list is laid out for landscape, whatever was chosen in the dialog.
    printer.setPageOrientation(QPageLayout::Landscape);
    QtPrintDevice device(printer);
    if (PrintParameters(device, TheUnit(), TheTextMemory(), m_strRecipePath, std::time(nullptr)) < 0)
        ShowMessageBox(this, TheTextMemory().GetText(35), TheTextMemory().GetText(0), MsgIcon::Error);
}
