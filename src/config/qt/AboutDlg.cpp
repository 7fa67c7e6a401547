#include "config/qt/AboutDlg.h"

#include <QCursor>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/ProgramDir.h"
#include "platform/SafeFormat.h"
#include "platform/qt/Guard.h"
#include "platform/qt/ModalRun.h"
#include "platform/qt/QtText.h"
#include "recipe/Maker.h"

#ifndef VORLENT_VERSION_MAJOR
#define VORLENT_VERSION_MAJOR 0
#define VORLENT_VERSION_MINOR 0
#define VORLENT_VERSION_PATCH 0
#endif

// The resources live in a static library, whose objects are linked only when
// something names them; registering twice is harmless.
static void RegisterResources() { Q_INIT_RESOURCE(vorlent); }

namespace {

constexpr int kHoverPeriodMs = 100;
const QColor kLinkColour(0, 0, 255);
const QColor kLinkHotColour(255, 255, 0);

std::function<void(const QUrl&)>& Opener()
{
    static std::function<void(const QUrl&)> opener;
    return opener;
}

}  // namespace

void CDarozozazWindowsDlg::OnAbout()
{
    CAboutDlg dialog(this);
    RunModal(dialog);
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName("100");
    RegisterResources();

    m_groupVersion = new QGroupBox(this);
    m_groupVersion->setObjectName("1110");
    m_picture = new QLabel(m_groupVersion);
    m_picture->setObjectName("1123");
    m_picture->setPixmap(QPixmap(":/vorlent/logo.png"));
    m_picture->setAlignment(Qt::AlignTop);
    m_staticMaker = new QLabel(m_groupVersion);
    m_staticMaker->setObjectName("1108");
    m_staticMaker->setTextFormat(Qt::PlainText);
    m_staticCopyright = new QLabel(m_groupVersion);
    m_staticCopyright->setObjectName("1109");
    m_staticCopyright->setTextFormat(Qt::PlainText);
    // Plain text: a language file's markup must not turn into live links.
    m_staticLink = new QLabel(m_groupVersion);
    m_staticLink->setObjectName("1121");
    m_staticLink->setTextFormat(Qt::PlainText);
    m_staticLink->setAutoFillBackground(false);
    m_staticLink->setCursor(Qt::PointingHandCursor);
    m_staticLink->installEventFilter(this);

    // A service engineer asked where the settings are reads it here, and
    // may copy it.
    m_staticProgramDir = new QLabel(m_groupVersion);
    m_staticProgramDir->setObjectName("programDir");
    m_staticProgramDir->setTextFormat(Qt::PlainText);
    m_staticProgramDir->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_btnOK = new QPushButton(this);
    m_btnOK->setObjectName("1");
    m_btnOK->setDefault(true);
    connect(m_btnOK, &QPushButton::clicked, this, &CAboutDlg::accept);

    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(kHoverPeriodMs);
    connect(m_pTimer, &QTimer::timeout, this, &CAboutDlg::OnTimer);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_staticMaker);
    texts->addWidget(m_staticCopyright);
    texts->addWidget(m_staticLink);
    texts->addWidget(m_staticProgramDir);
    texts->addStretch(1);
    auto* inner = new QHBoxLayout(m_groupVersion);
    inner->addWidget(m_picture);
    inner->addSpacing(8);
    inner->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_groupVersion);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CAboutDlg::~CAboutDlg() = default;

uint16_t CAboutDlg::VersionNumberOf(int major, int minor, int build)
{
    return static_cast<uint16_t>((major & 15) * 100 + (minor & 15) * 10 + (build & 15));
}

uint16_t CAboutDlg::GetVersionNumber()
{
    return VersionNumberOf(VORLENT_VERSION_MAJOR, VORLENT_VERSION_MINOR, VORLENT_VERSION_PATCH);
}

std::string CAboutDlg::VersionLine(const std::string& pattern, uint16_t number)
{
    std::string line = platform::SafeFormat(pattern, {static_cast<long long>(number / 100),
                                                      static_cast<long long>(number % 100)});
    if (number < 100)
        line += " beta";
    return line;
}

bool CAboutDlg::IsOpenableLink(const std::string& text)
{
    const QString address = Q(text).trimmed();
    for (const QChar c : address) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme == "http" || scheme == "https")
        return !url.host().isEmpty();
    // Mail programs take fields such as attachments from the query.
    if (scheme == "mailto")
        return !url.path().isEmpty() && !url.hasQuery() && !url.hasFragment();
    return false;
}

bool CAboutDlg::OpenLink(const std::string& text)
{
    if (!IsOpenableLink(text))
        return false;
    const QUrl url(Q(text).trimmed(), QUrl::StrictMode);
    if (Opener())
        Opener()(url);
    else
        QDesktopServices::openUrl(url);
    return true;
}

void CAboutDlg::SetLinkOpener(std::function<void(const QUrl&)> opener) { Opener() = std::move(opener); }

void CAboutDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    InitialiseOnFirstShow(*this, m_bInitialised, [this] { OnInitDialog(); });
}

bool CAboutDlg::OnInitDialog()
{
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(texts.GetText(73) + " " + texts.GetText(0)));

    m_strVersion = VersionLine(texts.GetText(22), GetVersionNumber());
    m_strMaker = platform::SafeFormat(texts.GetText(23), {std::string(kMakerName)});
    m_strCopyright = platform::SafeFormat(texts.GetText(24), {std::string(kMakerName)});
    m_btnOK->setText(Q(texts.GetText(65)));
    m_groupVersion->setTitle(Q(m_strVersion));
    m_staticMaker->setText(Q(m_strMaker));
    m_staticCopyright->setText(Q(m_strCopyright));
    m_staticProgramDir->setText(
        Q(platform::SafeFormat(texts.GetTextOr(89, "Program directory: %s"), {platform::ProgramDirectory()})));

    m_linkFont = font();
    m_linkFont.setUnderline(true);
    m_linkFont.setWeight(QFont::Normal);
    m_linkFont.setStyleHint(QFont::SansSerif);
    m_staticLink->setText(Q(texts.GetText(25)));
    m_staticLink->setFont(m_linkFont);
    ApplyLinkColour();

    m_pTimer->start();
    return true;
}

void CAboutDlg::hideEvent(QHideEvent* event)
{
    m_pTimer->stop();
    QDialog::hideEvent(event);
}

void CAboutDlg::OnTimer()
{
    const QRect linkRect(m_staticLink->mapToGlobal(QPoint(0, 0)), m_staticLink->size());
    const bool bInside = linkRect.contains(QCursor::pos());
    if (bInside == m_bLinkHot)
        return;
    m_bLinkHot = bInside;
    ApplyLinkColour();
}

void CAboutDlg::ApplyLinkColour()
{
    QPalette palette = m_staticLink->palette();
    palette.setColor(QPalette::WindowText, m_bLinkHot ? kLinkHotColour : kLinkColour);
    m_staticLink->setPalette(palette);
}

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_staticLink && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OpenLink(S(m_staticLink->text()));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
