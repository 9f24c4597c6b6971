#include "app/ConvertTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QComboBox *Choices(const QString &objectName, const QStringList &texts, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(objectName);
    box->addItems(texts);
    return box;
}

} // namespace

ConvertTab::ConvertTab(QLineEdit *sourceField, QLineEdit *saveField, QCheckBox *saveInSource,
                       QWidget *parent)
    : QWidget(parent), sourceField(sourceField), saveField(saveField), saveInSource(saveInSource)
{
    setObjectName(QStringLiteral("wgt_ConvertTab"));
    auto *page = new QVBoxLayout(this);
    folders = new QLabel(this);
    folders->setObjectName(QStringLiteral("lb_ConvertFolders"));
    folders->setTextFormat(Qt::PlainText);
    folders->setWordWrap(true);
    page->addWidget(folders);

    auto *form = new QFormLayout;
    // Listed in the order of ConvertTarget, ConvertSource and LineEnds.
    target = Choices(QStringLiteral("cmBox_ConvertTo"),
                     {QStringLiteral("UTF-8"), tr("UTF-8 (with BOM)"), QStringLiteral("GBK"),
                      tr("UTF-16LE (with BOM)")},
                     this);
    allowGb18030 = new QCheckBox(tr("Save the files GBK cannot hold in GB18030"), this);
    allowGb18030->setObjectName(QStringLiteral("cBox_AllowGb18030"));
    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(target);
    targetRow->addWidget(allowGb18030);
    targetRow->addStretch();
    form->addRow(tr("Target encoding:"), targetRow);
    source = Choices(QStringLiteral("cmBox_ConvertFrom"),
                     {tr("Detect"), QStringLiteral("Big5"), QStringLiteral("GB18030")}, this);
    form->addRow(tr("Source encoding:"), source);
    lineEnds = Choices(QStringLiteral("cmBox_LineEnds"),
                       {tr("Keep"), QStringLiteral("CR LF (Windows)"), QStringLiteral("LF")}, this);
    form->addRow(tr("Line ends:"), lineEnds);
    page->addLayout(form);

    button = new QPushButton(tr("Convert encoding"), this);
    button->setObjectName(QStringLiteral("pBtn_ConvertEncoding"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(button);
    buttonRow->addStretch();
    page->addLayout(buttonRow);

    // Simplified/traditional conversion through OpenCC, on the same folders; each file keeps
    // its encoding.
    auto *chineseGroup = new QGroupBox(tr("Simplified/traditional conversion"), this);
    chineseGroup->setObjectName(QStringLiteral("grp_ChineseConversion"));
    auto *chineseRow = new QHBoxLayout(chineseGroup);
    chineseConfig = new QComboBox(chineseGroup);
    chineseConfig->setObjectName(QStringLiteral("cmBox_ChineseConfig"));
    for (const ChineseConfig config : chineseConfigs)
        chineseConfig->addItem(ChineseConfigTitle(config), static_cast<int>(config));
    chinese = new QPushButton(tr("Convert characters"), chineseGroup);
    chinese->setObjectName(QStringLiteral("pBtn_ConvertChinese"));
    chineseRow->addWidget(chineseConfig);
    chineseRow->addWidget(chinese);
    chineseRow->addStretch();
    page->addWidget(chineseGroup);
    page->addStretch();
    status = new QHBoxLayout;
    page->addLayout(status);

    const auto gbkOnly = [this] { allowGb18030->setEnabled(target->currentIndex() == 2); };
    connect(target, QOverload<int>::of(&QComboBox::currentIndexChanged), this, gbkOnly);
    gbkOnly();
    connect(sourceField, &QLineEdit::textChanged, this, &ConvertTab::showFolders);
    connect(saveField, &QLineEdit::textChanged, this, &ConvertTab::showFolders);
    connect(saveInSource, &QCheckBox::toggled, this, &ConvertTab::showFolders);
    showFolders();
}

void ConvertTab::showFolders()
{
    const QString save = saveInSource->isChecked() ? tr("Save in the source folder (back up!)")
                                                   : tr("Save to: ") + saveField->text();
    folders->setText(tr("Source folder: ") + sourceField->text() + QLatin1Char('\n') + save +
                     tr("\n(the folders are chosen on the Settings page)"));
}

void ConvertTab::capture(BatchSettings &settings) const
{
    switch (target->currentIndex()) {
    case 0:
        settings.convertTo = ConvertTarget::Utf8;
        break;
    case 1:
        settings.convertTo = ConvertTarget::Utf8WithBom;
        break;
    case 2:
        settings.convertTo =
            allowGb18030->isChecked() ? ConvertTarget::Gb18030 : ConvertTarget::Gbk;
        break;
    default:
        settings.convertTo = ConvertTarget::Utf16LeWithBom;
        break;
    }
    const int from = source->currentIndex();
    settings.convertFrom = from == 1   ? ConvertSource::Big5
                           : from == 2 ? ConvertSource::Gb18030
                                       : ConvertSource::Detect;
    settings.chineseConfig = static_cast<ChineseConfig>(chineseConfig->currentData().toInt());
    const int ends = lineEnds->currentIndex();
    settings.convertLineEnds = ends == 1   ? LineEnds::CrLf
                               : ends == 2 ? LineEnds::Lf
                                           : LineEnds::Keep;
}
