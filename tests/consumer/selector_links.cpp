// The selector and its library data link from the installed package.
#include "ComComboBox.h"
#include "ComCtlLibrary.h"
#include "ComPort.h"

#include <QApplication>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InitComCtlLibrary();
    int result = 1;
    {
        TComComboBox box;
        box.SetComProperty(cpBaudRate);
        TCustomComPort port;
        box.SetComPort(&port);
        result = box.Text() == QStringLiteral("9600") ? 0 : 1;
    }
    DoneComCtlLibrary();
    return result;
}
