#include "player/app/ControlServer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>

#include <algorithm>

namespace velmor {

CControlServer::CControlServer(QObject* parent) : QObject(parent) {}

CControlServer::~CControlServer()
{
    if (m_server) m_server->close();
    if (!m_path.isEmpty()) QFile::remove(m_path);
}

bool CControlServer::Listen(const QString& given, QString* error)
{
    // The toolkit takes a name without a leading '/' as one of its own
    // names, not as a path: a relative path is made absolute here.
    const QString path = QFileInfo(given).absoluteFilePath();
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path + " exists and is not a socket";
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            *error = path + " is in use by a running program";
            return false;
        }
        QFile::remove(path);
    }
    m_server = new QLocalServer(this);
    const mode_t old = ::umask(0177);  // the socket is created 0600
    const bool ok = m_server->listen(path);
    ::umask(old);
    if (!ok) {
        *error = m_server->errorString();
        return false;
    }
    ::chmod(native.constData(), 0600);
    m_path = path;
    connect(m_server, &QLocalServer::newConnection, this, &CControlServer::OnConnection);
    return true;
}

void CControlServer::AddCommand(const QString& name, Handler handler) { m_commands[name] = std::move(handler); }

void CControlServer::OnConnection()
{
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
        m_clients.push_back(s);
        connect(s, &QLocalSocket::readyRead, this, [this, s] { OnReadable(s); });
        connect(s, &QLocalSocket::disconnected, this, [this, s] {
            // A client may write its last command and close at once.
            if (s->bytesAvailable() > 0) OnReadable(s);
            m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), s), m_clients.end());
            m_buffers.erase(s);
            m_skipping.erase(s);
            s->deleteLater();
        });
    }
}

static QByteArray ErrorLine(const QString& text)
{
    QJsonObject o{{"error", text}, {"data", QJsonValue()}, {"messages", QJsonArray()}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void CControlServer::OnReadable(QLocalSocket* socket)
{
    QByteArray& buf = m_buffers[socket];
    buf += socket->readAll();
    for (;;) {
        const qsizetype eol = buf.indexOf('\n');
        if (eol < 0) {
            if (buf.size() > kMaxLine) {
                // Nothing of an over-long line is kept; the rest of it up to
                // its line end is dropped as it comes.
                if (!m_skipping[socket]) Send(socket, ErrorLine("line longer than 64 KiB"));
                m_skipping[socket] = true;
                buf.clear();
            }
            return;
        }
        QByteArray line = buf.left(eol);
        buf.remove(0, eol + 1);
        if (m_skipping[socket]) {
            m_skipping[socket] = false;
            continue;
        }
        if (line.endsWith('\r')) line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        if (line.size() > kMaxLine) {
            Send(socket, ErrorLine("line longer than 64 KiB"));
            continue;
        }
        Send(socket, Execute(line));
        // A command may have ended the program's loop; the socket may be gone.
        if (!m_buffers.count(socket)) return;
    }
}

QByteArray CControlServer::Execute(const QByteArray& line)
{
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &perr);
    if (perr.error != QJsonParseError::NoError) return ErrorLine("invalid JSON: " + perr.errorString());
    if (!doc.isObject()) return ErrorLine("the request is not a JSON object");
    const QJsonObject req = doc.object();
    QJsonObject reply;
    if (req.contains("request_id")) reply["request_id"] = req["request_id"];

    CControlResult result;
    const QJsonValue cmd = req["command"];
    if (!cmd.isArray() || cmd.toArray().isEmpty() || !cmd.toArray().first().isString()) {
        result = CControlResult::Fail("\"command\" must be an array starting with the command name");
    } else {
        QJsonArray args = cmd.toArray();
        const QString name = args.takeAt(0).toString();
        auto it = m_commands.find(name);
        if (it == m_commands.end()) {
            result = CControlResult::Fail("unknown command: " + name);
        } else {
            m_inCommand = true;
            m_messages = QJsonArray();
            result = it->second(args);
            m_inCommand = false;
        }
    }
    reply["error"] = result.error;
    reply["data"] = result.data;
    reply["messages"] = m_messages;
    m_messages = QJsonArray();
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

void CControlServer::OnMessage(const QString& caption, const QString& text)
{
    if (m_inCommand) {
        m_messages.append(QJsonObject{{"caption", caption}, {"text", text}});
        return;
    }
    PushEvent("message", QJsonObject{{"caption", caption}, {"text", text}});
}

void CControlServer::PushEvent(const QString& name, QJsonObject fields)
{
    fields["event"] = name;
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    for (QLocalSocket* s : m_clients) Send(s, line);
}

void CControlServer::Send(QLocalSocket* socket, const QByteArray& line)
{
    socket->write(line + '\n');
    socket->flush();
}

}  // namespace velmor
