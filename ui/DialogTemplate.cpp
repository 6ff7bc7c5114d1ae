#include "ui/DialogTemplate.h"

#include "Messages.h"

#include "ui/Resource.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

enum class ControlKind { Label, Edit, List, Button };

struct ControlTemplate {
    ControlKind kind;
    int id;
    const char* text;
    QRect rect;                // dialog units
    int labelFor = IDC_STATIC; // a label: the control it names, for screen readers
};

const ControlTemplate kControls[] = {
    {ControlKind::Label, IDC_STATIC, Messages::kServerLabel, {15, 15, 41, 9}, IDC_SERVER},
    {ControlKind::Edit, IDC_SERVER, "", {47, 15, 154, 12}},
    {ControlKind::Edit, IDC_USER, "", {46, 30, 58, 12}},
    {ControlKind::Edit, IDC_PASSWORD, "", {129, 30, 72, 12}},
    {ControlKind::Label, IDC_STATIC, Messages::kUserLabel, {15, 30, 22, 12}, IDC_USER},
    {ControlKind::Label, IDC_STATIC, Messages::kPasswordLabel, {108, 30, 21, 13}, IDC_PASSWORD},
    {ControlKind::List, IDC_FILE_LIST, "", {15, 56, 126, 111}},
    {ControlKind::Label, IDC_STATIC, Messages::kListLabel, {15, 44, 64, 12}, IDC_FILE_LIST},
    {ControlKind::Button, IDOK, Messages::kConnectButton, {146, 53, 55, 18}},
    {ControlKind::Button, IDC_UPLOAD, Messages::kUploadButton, {146, 99, 55, 18}},
    {ControlKind::Button, IDC_DOWNLOAD, Messages::kDownloadButton, {146, 123, 55, 18}},
    {ControlKind::Button, IDC_EXIT, Messages::kExitButton, {146, 147, 55, 18}},
    {ControlKind::Label, IDC_STATIC, Messages::kMakerLine, {19, 169, 89, 12}},
    {ControlKind::Label, IDC_STATIC, Messages::kMakerAddress, {65, 182, 89, 11}},
    {ControlKind::Button, IDC_REFRESH, Messages::kRefreshButton, {146, 74, 55, 18}},
};

QListWidget* CreateList(QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    // Long names are cut at the right edge; no horizontal scrolling.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setTextElideMode(Qt::ElideNone);
    list->setWordWrap(false);
    // Every line has the same height: lets very long listings lay out at once.
    list->setUniformItemSizes(true);
    return list;
}

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
    case ControlKind::Label:
        return new QLabel(text, parent);
    case ControlKind::Edit:
        return new QLineEdit(parent);
    case ControlKind::List:
        return CreateList(parent);
    case ControlKind::Button:
        return new QPushButton(text, parent);
    }
    return nullptr;
}

// Ties each label to the control it names: the label becomes the control's buddy, so
// assistive technology reports the label-for relation, and its text the control's name.
void LabelControls(const QHash<int, QWidget*>& controls, const QHash<int, QLabel*>& labels) {
    for (auto it = labels.cbegin(); it != labels.cend(); ++it) {
        QWidget* control = controls.value(it.key());
        it.value()->setBuddy(control);
        control->setAccessibleName(it.value()->text());
    }
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::ToPixelsX(int units) const {
    return (2 * units * m_baseX + 4) / 8;
}

int DialogUnits::ToPixelsY(int units) const {
    return (2 * units * m_baseY + 8) / 16;
}

QRect DialogUnits::ToPixels(const QRect& units) const {
    return {ToPixelsX(units.x()), ToPixelsY(units.y()), ToPixelsX(units.width()),
            ToPixelsY(units.height())};
}

namespace DialogTemplate {

QString Caption() {
    return Messages::kCaption;
}

QFont Font() {
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Sans Serif")});
    font.setPointSize(9);
    return font;
}

QRect ClientRect() {
    return {0, 0, 213, 199};
}

QHash<int, QWidget*> CreateControls(QWidget* dialog) {
    const DialogUnits units(dialog->font());
    QHash<int, QWidget*> controls;
    QHash<int, QLabel*> labels; // by the id of the control each names
    for (const ControlTemplate& control : kControls) {
        QWidget* widget = CreateControl(control, dialog);
        widget->setGeometry(units.ToPixels(control.rect));
        if (control.id != IDC_STATIC) {
            widget->setObjectName(QString::number(control.id));
            controls.insert(control.id, widget);
        }
        if (control.labelFor != IDC_STATIC)
            labels.insert(control.labelFor, qobject_cast<QLabel*>(widget));
    }
    LabelControls(controls, labels);
    return controls;
}

} // namespace DialogTemplate
