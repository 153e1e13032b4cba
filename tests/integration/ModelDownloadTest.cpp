#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "FakeWorkspace.h"
#include "LiveRuntime.h"
#include "TestRuntime.h"
#include "WidgetProbe.h"
#include "engine/ModelManager.h"
#include "platform/linux/QtFileDownloader.h"
#include "windows/OnboardingView.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// A small HTTP/1.1 server on 127.0.0.1 that answers every request with one scripted reply.
class LoopbackServer : public QObject {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        bool sendLength = true;      // a Content-Length header
        qsizetype sendBytes = -1;    // how much of the body goes out (-1: all)
        bool closeAfter = true;      // close the connection once the bytes are out
        int chunk = 16 * 1024;       // written in pieces of this size, one per event-loop turn
    };

    LoopbackServer() {
        // Loopback requests go straight to the server, whatever proxy the environment names.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                sockets_.append(socket);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }
    QUrl base() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/ggerganov/whisper.cpp/resolve/main/").arg(server_.serverPort()));
    }
    Reply reply;
    QStringList paths;
    qsizetype sent = 0;

private:
    void onRead(QTcpSocket* socket) {
        buffer_[socket] += socket->readAll();
        if (!buffer_[socket].contains("\r\n\r\n")) return;
        const QList<QByteArray> requestLine = buffer_[socket].left(buffer_[socket].indexOf("\r\n")).split(' ');
        paths << QString::fromLatin1(requestLine.value(1));
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + (reply.status == 200 ? " OK" : " Not Found") +
                          "\r\nContent-Type: application/octet-stream\r\n";
        if (reply.sendLength) head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        const QByteArray out = reply.sendBytes < 0 ? reply.body : reply.body.left(reply.sendBytes);
        writeFrom(socket, out, 0);
    }
    void writeFrom(QTcpSocket* socket, QByteArray out, qsizetype offset) {
        if (offset >= out.size()) {
            if (reply.closeAfter) socket->disconnectFromHost();
            return;
        }
        const QByteArray piece = out.mid(offset, reply.chunk);
        socket->write(piece);
        sent += piece.size();
        QMetaObject::invokeMethod(
            this, [this, socket, out, next = offset + piece.size()] { writeFrom(socket, out, next); },
            Qt::QueuedConnection);
    }
    QTcpServer server_;
    QList<QTcpSocket*> sockets_;
    QHash<QTcpSocket*, QByteArray> buffer_;
};

QByteArray sampleBody(qsizetype size) {
    QByteArray body(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) body[i] = char((i * 31 + 7) & 0xff);
    return body;
}

struct DownloadFixture {
    DownloadFixture() {
        manager = std::make_unique<ModelManager>(modelsDirectory(rt.paths()), downloader, server.base());
        QObject::connect(manager.get(), &ModelManager::downloadProgressChanged,
                         [this](double p) { progress.push_back(p); });
        QObject::connect(manager.get(), &ModelManager::isDownloadingChanged,
                         [this](bool d) { downloading.push_back(d); });
    }
    // Starts a download and waits for its completion.
    std::optional<Result<QString>> download(WhisperModel model) {
        start(model);
        processEventsUntil([this] { return result.has_value(); }, 15000);
        return result;
    }
    void start(WhisperModel model) {
        manager->download(model, [this](const Result<QString>& r) {
            result = r;
            completedOnMainThread = QThread::currentThread() == qApp->thread();
            downloadingAtCompletion = manager->isDownloading();
        });
    }
    // Every file in the models folder, hidden ones included.
    QStringList folderContents() const {
        return QDir(manager->modelsDirectory()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QApplication& app = guiApplication();  // before the server's sockets
    TestRuntime rt;  // its folders only; the downloads run on the real event loop
    LoopbackServer server;
    QtFileDownloader downloader;
    std::unique_ptr<ModelManager> manager;
    std::vector<double> progress;
    std::vector<bool> downloading;
    std::optional<Result<QString>> result;
    bool completedOnMainThread = false;
    bool downloadingAtCompletion = true;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(ModelDownload, ProgressReachesOneAndTheFileArrivesUnderItsName) {
    DownloadFixture f;
    f.server.reply.body = sampleBody(512 * 1024);
    const auto result = f.download(WhisperModel::tiny);
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->isOk()) << result->error().toStdString();
    EXPECT_EQ(result->value(), f.manager->fileURL(WhisperModel::tiny));
    EXPECT_EQ(f.server.paths, QStringList{QStringLiteral("/ggerganov/whisper.cpp/resolve/main/ggml-tiny.bin")});
    EXPECT_EQ(readAll(result->value()), f.server.reply.body);
    EXPECT_EQ(f.folderContents(), QStringList{QStringLiteral("ggml-tiny.bin")}) << "no temporary file is left behind";
    // Qt reports progress at most a few times a second, so a fast loopback transfer may report it
    // only once, at the end.
    ASSERT_FALSE(f.progress.empty());
    EXPECT_TRUE(std::is_sorted(f.progress.begin(), f.progress.end()));
    EXPECT_DOUBLE_EQ(f.progress.back(), 1.0);
    EXPECT_EQ(f.downloading, (std::vector<bool>{true, false}));
    EXPECT_TRUE(f.completedOnMainThread);
    EXPECT_FALSE(f.downloadingAtCompletion);
}

TEST(ModelDownload, WithoutAContentLengthProgressStaysAtZeroUntilTheEnd) {
    DownloadFixture f;
    f.server.reply.body = sampleBody(256 * 1024);
    f.server.reply.sendLength = false;
    const auto result = f.download(WhisperModel::base);
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->isOk()) << result->error().toStdString();
    EXPECT_EQ(readAll(result->value()), f.server.reply.body);
    // Without a length Qt knows the total only once the body has ended: no fraction in between.
    for (double p : f.progress) EXPECT_TRUE(p == 0.0 || p == 1.0) << p;
}

TEST(ModelDownload, FailuresLeaveNoFileUnderTheFinalName) {
    struct Case {
        const char* name;
        int status;
        qsizetype sendBytes;     // -1: the whole body
        const char* existing;    // content of a file already there, or nullptr
    };
    const Case cases[] = {
        {"file already there", 200, -1, "an earlier model"},
        {"connection lost half way", 200, 100 * 1024, nullptr},
        {"not found", 404, -1, nullptr},
    };
    for (const Case& c : cases) {
        DownloadFixture f;
        f.server.reply.status = c.status;
        f.server.reply.body = sampleBody(200 * 1024);
        f.server.reply.sendBytes = c.sendBytes;
        const QString finalPath = f.manager->fileURL(WhisperModel::small);
        if (c.existing) {
            QFile existing(finalPath);
            ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
            existing.write(c.existing);
        }
        const auto result = f.download(WhisperModel::small);
        ASSERT_TRUE(result.has_value()) << c.name;
        EXPECT_FALSE(result->isOk()) << c.name;
        EXPECT_FALSE(result->error().isEmpty()) << c.name;
        EXPECT_FALSE(f.manager->isDownloading()) << c.name;
        if (c.existing) {
            EXPECT_EQ(readAll(finalPath), QByteArray(c.existing)) << "the existing file is kept as it was";
            EXPECT_EQ(f.folderContents(), QStringList{QStringLiteral("ggml-small.bin")}) << c.name;
        } else {
            EXPECT_TRUE(f.folderContents().isEmpty())
                << c.name << ": " << f.folderContents().join(QStringLiteral(",")).toStdString();
        }
    }
}

TEST(ModelDownload, CancelEndsTheTransferAsAFailureAndKeepsTheProgress) {
    DownloadFixture f;
    f.server.reply.body = sampleBody(400 * 1024);
    f.server.reply.sendBytes = 150 * 1024;  // then the server goes quiet and keeps the connection
    f.server.reply.closeAfter = false;
    f.start(WhisperModel::medium);
    ASSERT_TRUE(processEventsUntil([&] { return f.server.sent >= 150 * 1024; }, 15000));
    processEventsUntil([] { return false; }, 300);  // the client has read what was sent
    const double before = f.manager->downloadProgress();
    f.manager->cancel();
    EXPECT_EQ(f.manager->downloadTask(), nullptr);
    EXPECT_FALSE(f.result.has_value()) << "the completion arrives later, from the event loop";
    ASSERT_TRUE(processEventsUntil([&] { return f.result.has_value() && !f.manager->isDownloading(); }, 15000));
    EXPECT_FALSE(f.result->isOk());
    EXPECT_EQ(f.manager->downloadProgress(), before);
    EXPECT_TRUE(f.folderContents().isEmpty()) << f.folderContents().join(QStringLiteral(",")).toStdString();
}

TEST(ModelDownload, CancelWithoutADownloadOnlyClearsTheFlag) {
    DownloadFixture f;
    f.manager->cancel();
    processEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(f.manager->isDownloading());
    EXPECT_TRUE(f.downloading.empty());
    EXPECT_TRUE(f.progress.empty());
}

TEST(ModelDownload, AManagerThatGoesMidTransferLeavesNoFileAndRunsNoCompletion) {
    DownloadFixture f;
    f.server.reply.body = sampleBody(400 * 1024);
    f.server.reply.sendBytes = 150 * 1024;  // then the server goes quiet and keeps the connection
    f.server.reply.closeAfter = false;
    f.start(WhisperModel::tiny);
    ASSERT_TRUE(processEventsUntil([&] { return f.server.sent >= 150 * 1024; }, 15000));
    processEventsUntil([] { return false; }, 300);  // the client has written what was sent
    const QString folder = f.manager->modelsDirectory();
    f.manager.reset();
    processEventsUntil([] { return false; }, 300);
    EXPECT_FALSE(f.result.has_value());
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}
