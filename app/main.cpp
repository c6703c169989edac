#include "ComCtlLibrary.h"
#include "ComErrors.h"
#include "TApplication.h"
#include "TForm1.h"

#include <QIcon>

int main(int argc, char* argv[])
{
    InitPortErrorMessages();
    InitComCtlLibrary();
    int result = 0;
    {
        TApplication application(argc, argv);
        application.setWindowIcon(QIcon(QStringLiteral(":/app/zorbel.xpm")));
        TForm1 form;
        form.show();
        result = application.exec();
    }
    DoneComCtlLibrary();
    return result;
}
