#pragma once
// The question before a name that exists is stored over: the stored stamp
// and the new one side by side.
#include <QDialog>
#include <QImage>
#include <QString>

class ReplaceDialog : public QDialog {
    Q_OBJECT
public:
    ReplaceDialog(const QString& name, const QImage& stored, const QString& storedFacts, const QImage& incoming,
                  const QString& incomingFacts, bool historyKeeps, QWidget* parent = nullptr);
};
