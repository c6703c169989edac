#include "ComSelect.h"

#include "ComPort.h"
#include "ComPortDetails.h"
#include "PortItemModel.h"

#include <QStringListModel>

namespace {
template <typename E>
QStringList AllTexts(int count, QString (*toText)(E))
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts.append(toText(static_cast<E>(i)));
    return texts;
}
} // namespace

void TComSelect::SetComProperty(TComProperty value)
{
    ComProperty = value;
    switch (value) {
    case cpNone: Fill({}); break;
    case cpPort: ListPorts(); break;
    case cpBaudRate: ListBaudRates(); break;
    case cpDataBits: ListDataBits(); break;
    case cpStopBits: ListStopBits(); break;
    case cpParity: ListParities(); break;
    case cpFlowControl: ListFlowControls(); break;
    }
}

void TComSelect::Fill(const QStringList& texts)
{
    if (Items)
        Items->setStringList(texts);
}

void TComSelect::ListPorts()
{
    // A source that cannot be read leaves the emptied list empty.
    QList<TPortDetails> ports;
    GetComPortDetails(ports);
    QStringList names;
    for (const TPortDetails& port : std::as_const(ports))
        names.append(port.Name);
    if (auto* model = qobject_cast<TPortItemModel*>(Items))
        model->SetPorts(ports);
    Fill(names);
}

void TComSelect::ListBaudRates() { Fill(AllTexts(BaudRateCount, BaudRateText)); }
void TComSelect::ListDataBits() { Fill(AllTexts(DataBitsCount, DataBitsText)); }
void TComSelect::ListStopBits() { Fill(AllTexts(StopBitsCount, StopBitsText)); }
void TComSelect::ListParities() { Fill(AllTexts(ParityCount, ParityText)); }
void TComSelect::ListFlowControls() { Fill(AllTexts(FlowControlCount, FlowControlText)); }

void TComSelect::RecordText(const QString& text)
{
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: ChosenPort = text; break;
    case cpBaudRate: ChosenBaudRate = BaudRateFromText(text); break;
    case cpDataBits: ChosenDataBits = DataBitsFromText(text); break;
    case cpStopBits: ChosenStopBits = StopBitsFromText(text); break;
    case cpParity: ChosenParity = ParityFromText(text); break;
    case cpFlowControl: ChosenFlowControl = FlowControlFromText(text); break;
    }
}

void TComSelect::RecordChoice(const QString& text)
{
    RecordText(text);
    if (AutoApply)
        ApplyChoice();
}

void TComSelect::ApplyChoice()
{
    if (!ComPort)
        return;
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: ComPort->SetPortName(ChosenPort); break;
    case cpBaudRate: ComPort->SetBaudRate(ChosenBaudRate); break;
    case cpDataBits: ComPort->SetDataBits(ChosenDataBits); break;
    case cpStopBits: ComPort->SetStopBits(ChosenStopBits); break;
    case cpParity: ComPort->Parity().SetBits(ChosenParity); break;
    case cpFlowControl: ComPort->FlowControl().SetFlowControl(ChosenFlowControl); break;
    }
}

void TComSelect::FindPortValue(int& index)
{
    if (!ComPort)
        return;
    QString value;
    switch (ComProperty) {
    case cpNone: return;
    case cpPort: value = ComPort->Port(); break;
    case cpBaudRate: value = BaudRateText(ComPort->BaudRate()); break;
    case cpDataBits: value = DataBitsText(ComPort->DataBits()); break;
    case cpStopBits: value = StopBitsText(ComPort->StopBits()); break;
    case cpParity: value = ParityText(ComPort->Parity().Bits()); break;
    case cpFlowControl: value = FlowControlText(ComPort->FlowControl().FlowControl()); break;
    }
    const QStringList entries = Items ? Items->stringList() : QStringList();
    index = -1;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].compare(value, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    }
    if (index >= 0)
        RecordText(entries[index]);
}
