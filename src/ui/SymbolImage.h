#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

// A monochrome symbol of the module's icon set (icons/<name>.svg), drawn in one colour at the
// size of a font of `pointSize`.
class SymbolImage : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal pointSize READ pointSize WRITE setPointSize NOTIFY pointSizeChanged)

public:
    explicit SymbolImage(QQuickItem* parent = nullptr);

    QString name() const { return name_; }
    void setName(const QString& name);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    qreal pointSize() const { return pointSize_; }
    void setPointSize(qreal pointSize);

    // Whether the icon set has a symbol of that name.
    static bool hasSymbol(const QString& name);

    void paint(QPainter* painter) override;

Q_SIGNALS:
    void nameChanged();
    void colorChanged();
    void pointSizeChanged();

private:
    void updateImplicitSize();

    QString name_;
    QColor color_ {Qt::black};
    qreal pointSize_ = 13;
};
