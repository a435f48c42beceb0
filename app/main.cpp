#include <QApplication>
#include <QFrame>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QFrame frame;
    frame.setWindowTitle("Vorlo2");
    frame.show();
    return app.exec();
}
