#pragma once

// The received stream as the user sees it: the text beside its hex dump,
// each keeping a bounded scrollback, with copy-all and save-all.

#include <QWidget>

class QPlainTextEdit;

class TStreamView : public QWidget {
    Q_OBJECT

public:
    explicit TStreamView(QWidget* parent = nullptr);

    // Appends the ended lines and shows the open one as the last line, in
    // place of the open one shown before.
    void ShowBatch(const QStringList& lines, const QString& openLine, const QStringList& rows, const QString& openRow);
    void SetHexVisible(bool visible);
    bool HexVisible() const;
    void Clear();

    QString Text() const;
    QString Hex() const;
    void CopyAll() const;
    // Writes the text view to fileName; the reason when it could not.
    QString SaveAll(const QString& fileName) const;

    QPlainTextEdit* TextEdit() const { return text_; }
    QPlainTextEdit* HexEdit() const { return hex_; }

private:
    QPlainTextEdit* text_;
    QPlainTextEdit* hex_;
};
