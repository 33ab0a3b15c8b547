// SPDX-License-Identifier: MIT
#include "SettingsView.h"

#include "Format.h"
#include "Style.h"
#include "store/FetchPolicy.h"
#include "store/MonitorStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

// Tall enough by default to show a list of three nodes (20 lines) without scrolling; never below 210.
// Tab moves the focus on, as in every other field of a form; indentation is typed with spaces, and
// a new line starts with the indentation of the one before it.
class ConfigEditor : public QPlainTextEdit
{
public:
    ConfigEditor() { setTabChangesFocus(true); }

    QSize sizeHint() const override
    {
        const int lines = 20;
        const int height = fontMetrics().lineSpacing() * lines + 2 * int(document()->documentMargin()) + 2;
        return {QPlainTextEdit::sizeHint().width(), std::max(210, height)};
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool newLine = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (!newLine || event->modifiers() & ~Qt::KeypadModifier) return QPlainTextEdit::keyPressEvent(event);
        const QString line = textCursor().block().text();
        const qsizetype indent =
            std::find_if(line.begin(), line.end(), [](QChar c) { return c != u' '; }) - line.begin();
        QTextCursor cursor = textCursor();
        cursor.insertText(u'\n' + QString(std::min(indent, qsizetype(cursor.positionInBlock())), u' '));
        setTextCursor(cursor);
        ensureCursorVisible();
    }
};

// A monospaced face that has the Chinese glyphs too, so lines holding names keep the line height.
QFont editorFont()
{
    QFont f = monospaced(TextStyle::Body);
    f.setFamilies({u"Noto Sans Mono CJK SC"_s, f.family()});
    return f;
}

// The editor's frame: a 1-wide line in the secondary colour at a quarter opacity.
QString editorStyle()
{
    const QColor line = color(ColorRole::SecondaryText);
    return u"QPlainTextEdit#config { border: 1px solid rgba(%1, %2, %3, 64); background: %4; }"_s
        .arg(line.red())
        .arg(line.green())
        .arg(line.blue())
        .arg(color(ColorRole::EditorBackground).name());
}

// Filled with the accent colour; Fusion's own button gradient washes a palette colour out.
QString accentButtonStyle()
{
    const QColor accent = color(ColorRole::Accent);
    return u"QPushButton#save { background: %1; color: %3; border: 1px solid %2; border-radius: 4px;"
           " padding: 3px 14px; } QPushButton#save:pressed { background: %2; }"_s.arg(
               accent.name(), accent.darker(120).name(), color(ColorRole::AccentText).name());
}

QString nodeListText(const QList<NodeRuntime> &runtimes)
{
    QList<ServerNode> nodes;
    nodes.reserve(runtimes.size());
    for (const NodeRuntime &r : runtimes)
        nodes.append(r.node);
    const QByteArray bytes = encodeNodeList(nodes);
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    if (bytes.isEmpty() || decode.hasError()) return u"[]"_s;
    // The final newline is dropped: the list then fits the editor without a blank line below it.
    return text.endsWith(u'\n') ? text.chopped(1) : text;
}

} // namespace

SettingsView::SettingsView(MonitorStore *store, QWidget *parent) : QDialog(parent), m_store(store)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"连接设置"_s);
    setFixedWidth(620);

    m_demoMode = new QCheckBox(u"使用演示数据"_s);
    m_demoMode->setObjectName(u"demoMode"_s);

    auto *help = label(
        u"实时模式下，每台 Debian 服务器运行 agent，并将地址填为 /metrics；建议只通过 Tailscale 暴露 9100 端口。"_s,
        TextStyle::Caption, ColorRole::SecondaryText);
    help->setWordWrap(true);

    m_editor = new ConfigEditor;
    m_editor->setObjectName(u"config"_s);
    m_editor->setFont(editorFont());
    m_editor->setMinimumHeight(210);
    m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    followScheme(m_editor, "style", [editor = m_editor] { editor->setStyleSheet(editorStyle()); });
    m_editor->document()->setDocumentMargin(6);

    m_error = label(QString(), TextStyle::Caption, ColorRole::RedText);
    m_error->setObjectName(u"error"_s);
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->hide();

    auto *cancel = new QPushButton(u"取消"_s);
    cancel->setAutoDefault(false);
    auto *saveButton = new QPushButton(u"保存并刷新"_s);
    saveButton->setObjectName(u"save"_s);
    saveButton->setDefault(true);
    followScheme(saveButton, "style", [saveButton] { saveButton->setStyleSheet(accentButtonStyle()); });
    saveButton->setMinimumHeight(cancel->sizeHint().height());
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &SettingsView::save);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel, 0, Qt::AlignVCenter);
    buttons->addWidget(saveButton, 0, Qt::AlignVCenter);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(16);
    stack->addWidget(label(u"连接设置"_s, TextStyle::Title2, ColorRole::PrimaryText, QFont::Bold));
    stack->addWidget(m_demoMode);
    stack->addWidget(help);
    stack->addWidget(label(u"节点配置（JSON）"_s, TextStyle::Headline));
    stack->addWidget(m_editor, 1);
    stack->addWidget(m_error);
    stack->addLayout(buttons);
}

void SettingsView::showEvent(QShowEvent *event)
{
    // A window system re-showing the sheet (after minimising, say) must not wipe the operator's text.
    if (!event->spontaneous()) {
        hideError();
        load();
    }
    QDialog::showEvent(event);
}

void SettingsView::load()
{
    m_demoMode->setChecked(m_store->demoMode());
    m_editor->setPlainText(nodeListText(m_store->nodes()));
}

std::variant<QList<ServerNode>, QString> parseSettingsText(const QString &text)
{
    QStringEncoder encode(QStringEncoder::Utf8);
    const QByteArray bytes = encode(text);
    if (encode.hasError()) return u"JSON 编码失败"_s;

    auto decoded = decodeNodeList(bytes);
    if (std::holds_alternative<QString>(decoded)) return decoded;
    const auto &nodes = std::get<QList<ServerNode>>(decoded);
    if (nodes.size() != 3) return u"请配置恰好 3 台服务器"_s;
    // Such an address would never be polled: refused here, where it can still be corrected.
    for (const ServerNode &node : nodes)
        if (fetchPolicy::carriesUserInfo(QUrl(node.address))) return fetchMessages::userInfoRefused();
    return decoded;
}

void SettingsView::save()
{
    const auto parsed = parseSettingsText(m_editor->toPlainText());
    if (const auto *message = std::get_if<QString>(&parsed)) return showError(*message);
    m_store->apply(std::get<QList<ServerNode>>(parsed), m_demoMode->isChecked());
    accept();
}

void SettingsView::showError(const QString &message)
{
    m_error->setText(boundedText(message));
    m_error->show();
    fitHeight();
}

// The width is fixed; the height follows the content, with or without the error line.
void SettingsView::fitHeight()
{
    // Not adjustSize(): that caps a window at a share of the screen, which cuts the editor short.
    layout()->invalidate();
    layout()->activate();
    resize(width(), sizeHint().height());
}

void SettingsView::hideError()
{
    m_error->clear();
    m_error->hide();
    fitHeight();
}

} // namespace vantor::ui
