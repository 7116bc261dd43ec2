#include "app/gui/optRetrieve.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"
#include "ui/pictures.h"

namespace kelvane {

TMailAnimation::TMailAnimation(QWidget* parent) : QWidget(parent) {
    setObjectName("anMail");
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
    setMinimumSize(sizeHint());
}

void TMailAnimation::Start() {
    frame_ = 0;
    timer_.start();
    update();
}

void TMailAnimation::Stop() {
    timer_.stop();
}

void TMailAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);
    const qreal h = area.height();
    const qreal envW = h * 1.3;
    // An open tray at the right, drawn with the palette so it suits any theme.
    const QRectF tray(area.right() - h * 1.1, area.top() + h * 0.5, h * 1.1, h * 0.5);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1.6, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath trayPath;
    trayPath.moveTo(tray.topLeft());
    trayPath.lineTo(tray.left() + h * 0.12, tray.bottom());
    trayPath.lineTo(tray.right() - h * 0.12, tray.bottom());
    trayPath.lineTo(tray.topRight());
    p.drawPath(trayPath);
    // The envelope flies from the left edge in an arc and lands in the tray.
    const qreal travel = area.width() - h * 0.55 - envW * 0.5 - area.left();
    const qreal t = static_cast<qreal>(frame_) / (kFrames - 1);
    const qreal x = area.left() + travel * t;
    const qreal y = area.top() + h * 0.3 * (t - 0.4) * (t - 0.4) / 0.36;
    ui::PaintPicture(p, ui::Picture::Envelope, QRectF(x, y, envW, h * 0.7));
}

TfrmRetrieving::TfrmRetrieving(QWidget* parent) : QDialog(parent) {
    setObjectName("TfrmRetrieving");
    setWindowTitle("Retrieving ...");
    setModal(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lblTitle = new QLabel("Retrieving messages ... standby", this);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setWordWrap(true);
    lblTitle->setAlignment(Qt::AlignCenter);
    lblMsg = new QLabel(this);
    lblMsg->setObjectName("lblMsg");
    lblMsg->setTextFormat(Qt::PlainText);
    lblMsg->setAlignment(Qt::AlignCenter);
    anMail = new TMailAnimation(this);
    anMail->setAccessibleName("Retrieving");
    btCancel = new QPushButton("&Click to cancel", this);
    btCancel->setObjectName("btCancel");
    btCancel->setAccessibleName("Click to cancel");
    connect(btCancel, &QPushButton::clicked, this, &TfrmRetrieving::btCancelClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(anMail, 0, Qt::AlignHCenter);
    layout->addWidget(lblMsg);
    layout->addWidget(btCancel, 0, Qt::AlignHCenter);
    setMinimumWidth(340);
    ui::MakeFixedSize(this);
}

void TfrmRetrieving::SetAccount(const std::string& userName, const std::string& server) {
    userName_ = userName;
    server_ = server;
}

void TfrmRetrieving::FormShow() {
    lblMsg->clear();
    lblTitle->setText(
        ui::DisplayText("Retrieving messages for mailbox " + userName_ + " on server " + server_));
    anMail->Start();
}

void TfrmRetrieving::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmRetrieving::hideEvent(QHideEvent* event) {
    anMail->Stop();
    QDialog::hideEvent(event);
}

void TfrmRetrieving::reject() {
    // Escape or the title bar's close button mean what "Click to cancel" means.
    btCancelClick();
}

void TfrmRetrieving::btCancelClick() {
    if (OnCancelClick) OnCancelClick();
}

}  // namespace kelvane
