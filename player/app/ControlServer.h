// The control socket: one JSON object per line in, one per line out, run
// on the user-interface thread exactly like the click it stands for.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace velmor {

struct CControlResult {
    QString error = "success";
    QJsonValue data;
    static CControlResult Fail(QString text) { return {std::move(text), QJsonValue()}; }
};

class CControlServer : public QObject {
public:
    static constexpr qsizetype kMaxLine = 64 * 1024;
    // args: the command array without its name.
    using Handler = std::function<CControlResult(const QJsonArray& args)>;

    explicit CControlServer(QObject* parent = nullptr);
    ~CControlServer() override;

    // Listens on the Unix socket `path` (mode 0600). A path that exists is
    // taken over only when it is a socket nobody answers on.
    bool Listen(const QString& path, QString* error);

    void AddCommand(const QString& name, Handler handler);

    // Pushed to every client.
    void PushEvent(const QString& name, QJsonObject fields = {});

    // A message box answered on the socket's behalf: kept for the reply of
    // the running command, or pushed as an event outside one.
    void OnMessage(const QString& caption, const QString& text);

    // Runs one request line; the reply line without its line end.
    QByteArray Execute(const QByteArray& line);

private:
    void OnConnection();
    void OnReadable(QLocalSocket* socket);
    void Send(QLocalSocket* socket, const QByteArray& line);

    QLocalServer* m_server = nullptr;
    QString m_path;
    std::map<QString, Handler> m_commands;
    std::vector<QLocalSocket*> m_clients;
    std::map<QLocalSocket*, QByteArray> m_buffers;
    std::map<QLocalSocket*, bool> m_skipping;  // an over-long line is being discarded
    bool m_inCommand = false;
    QJsonArray m_messages;
};

}  // namespace velmor
