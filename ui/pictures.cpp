#include "ui/pictures.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

// The pictures live in a static library: its resources are registered once,
// by hand, before the first picture is read.
static void InitPictureResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    (void)registered;
}

namespace kelvane::ui {

namespace {

struct PictureInfo {
    const char* file;
    const char* themeName;  // freedesktop name, or nullptr when none fits
};

PictureInfo Info(Picture picture) {
    switch (picture) {
        case Picture::Up:
            return {"up.svg", "go-up"};
        case Picture::Down:
            return {"down.svg", "go-down"};
        case Picture::Settings:
            return {"settings.svg", "preferences-system"};
        case Picture::Goodbye:
            return {"goodbye.svg", nullptr};
        case Picture::Door:
            return {"door.svg", "application-exit"};
        case Picture::Stop:
            return {"stop.svg", "process-stop"};
        case Picture::Hammer:
            return {"hammer.svg", nullptr};
        case Picture::Mark:
            return {"mark.svg", nullptr};
        case Picture::Delete:
            return {"delete.svg", "edit-delete"};
        case Picture::Remark:
            return {"remark.svg", nullptr};
        case Picture::Reset:
            return {"reset.svg", "edit-clear"};
        case Picture::Launch:
            return {"launch.svg", "internet-mail"};
        case Picture::Help:
            return {"help.svg", "help-contents"};
        case Picture::About:
            return {"about.svg", "help-about"};
        case Picture::Anim1:
            return {"anim1.svg", nullptr};
        case Picture::Anim2:
            return {"anim2.svg", nullptr};
        case Picture::Envelope:
            return {"envelope.svg", nullptr};
    }
    return {"envelope.svg", nullptr};
}

QByteArray Svg(const QString& file) {
    InitPictureResources();
    QFile f(":/pictures/" + file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// Renders an SVG whose "currentColor" strokes take the palette's text colour
// at paint time, so a dark theme gets light outlines. Rendered pictures are
// kept per size, scale, mode and colour: a list repaints its rows' pictures
// many times a second.
class SvgIconEngine : public QIconEngine {
  public:
    explicit SvgIconEngine(QString file) : file_(std::move(file)), svg_(Svg(file_)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const QPalette palette = QApplication::palette();
        const QPalette::ColorGroup group =
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active;
        const QString colour = palette.color(group, QPalette::ButtonText).name();
        const QString key = QString("%1x%2@%3/%4/%5")
                                .arg(size.width())
                                .arg(size.height())
                                .arg(scale)
                                .arg(int(mode))
                                .arg(colour);
        if (auto it = cache_.constFind(key); it != cache_.constEnd()) return *it;

        QByteArray svg = svg_;
        svg.replace("currentColor", colour.toLatin1());
        QSvgRenderer renderer(svg);
        QPixmap pm(size * scale);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            if (mode == QIcon::Disabled) p.setOpacity(0.45);
            renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(pm.size())));
        }
        pm.setDevicePixelRatio(scale);
        if (cache_.size() > 64) cache_.clear();
        cache_.insert(key, pm);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SvgIconEngine(file_); }
    QString key() const override { return QStringLiteral("KelvaneSvg"); }

  private:
    QString file_;
    QByteArray svg_;
    QHash<QString, QPixmap> cache_;
};

}  // namespace

QIcon OwnIcon(Picture picture) {
    return QIcon(new SvgIconEngine(QString::fromLatin1(Info(picture).file)));
}

QIcon Icon(Picture picture) {
    const PictureInfo info = Info(picture);
    if (info.themeName && QIcon::hasThemeIcon(QString::fromLatin1(info.themeName)))
        return QIcon::fromTheme(QString::fromLatin1(info.themeName));
    return OwnIcon(picture);
}

QIcon MarkIcon(MessageMark mark) {
    static const QIcon icons[] = {
        QIcon(new SvgIconEngine("mark-delete.svg")),
        QIcon(new SvgIconEngine("mark-question.svg")),
        QIcon(new SvgIconEngine("mark-exception.svg")),
        QIcon(new SvgIconEngine("mark-known.svg")),
    };
    if (mark < mmDelete || mark > mmKnownSpammer) return {};
    return icons[mark];
}

QIcon BlankIcon(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return QIcon(pm);
}

void PaintPicture(QPainter& painter, Picture picture, const QRectF& rect) {
    QSvgRenderer renderer(Svg(QString::fromLatin1(Info(picture).file)));
    renderer.render(&painter, rect);
}

QIcon ApplicationIcon() {
    InitPictureResources();
    return QIcon(":/pictures/org.kelvane.Kelvane.svg");
}

}  // namespace kelvane::ui
