// A Qt text field in a process of its own, for typing and pasting tests: a QPlainTextEdit that
// writes its whole text to the file named by its first argument whenever the text changed, and
// prints its window id on standard output once it is shown.

#include <QApplication>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: text_receiver FILE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QPlainTextEdit edit;
    edit.resize(500, 300);
    QTimer save;
    save.setSingleShot(true);
    save.setInterval(5);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, &save, qOverload<>(&QTimer::start));
    QObject::connect(&save, &QTimer::timeout, [&] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(edit.toPlainText().toUtf8());
        file.commit();
    });
    edit.show();
    std::printf("%llu\n", static_cast<unsigned long long>(edit.winId()));
    std::fflush(stdout);
    return app.exec();
}
