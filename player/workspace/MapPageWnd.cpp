#include "player/workspace/MapPageWnd.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include "common/AppFolders.h"
#include "player/workspace/MapPage.h"
#include "player/workspace/MapScript.h"
#include "player/workspace/MbTiles.h"

namespace velmor {

namespace {

// The page's dialogs would stop a window nobody looks at; they are answered
// without being shown.
class CQuietPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
};

// Serves velmortiles:/z/x/y from the open tile file.
class CTileSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    std::shared_ptr<CMbTiles> tiles;

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        const auto parts = job->requestUrl().path().split('/', Qt::SkipEmptyParts);
        if (!tiles || !tiles->IsOpen() || parts.size() != 3) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        bool okZ = false, okX = false, okY = false;
        const int z = parts[0].toInt(&okZ), x = parts[1].toInt(&okX), y = parts[2].toInt(&okY);
        const auto data = (okZ && okX && okY) ? tiles->Tile(z, x, y) : std::nullopt;
        if (!data) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(reinterpret_cast<const char*>(data->data()), qsizetype(data->size()));
        buffer->open(QIODevice::ReadOnly);
        job->reply(QByteArray::fromStdString(tiles->MimeType()), buffer);
    }
};

QString FailurePage(const QString& address, const QString& error, int code)
{
    return "<html><body bgcolor=\"white\"><h2>Failed to load URL " + address.toHtmlEscaped() + " with error " +
           error.toHtmlEscaped() + " (" + QString::number(code) + ").</h2></body></html>";
}

constexpr int kAborted = -3;  // the browser's code for a load cut short by another

}  // namespace

void CMapPageWnd::RegisterSchemes()
{
    if (QWebEngineUrlScheme::schemeByName(kTileScheme).name() == kTileScheme) return;
    QWebEngineUrlScheme scheme(kTileScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

CMapPageWnd::CMapPageWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("DrivingCEFmapInfo");
    const CAppFolders folders = ResolveAppFolders(QCoreApplication::applicationDirPath().toStdString());
    m_resources = folders.resources;
    m_data = folders.data;

    m_profile = new QWebEngineProfile(this);  // off the record: the map keeps nothing on disk
    auto* handler = new CTileSchemeHandler(m_profile);
    m_profile->installUrlSchemeHandler(kTileScheme, handler);
    m_view = new QWebEngineView(this);
    m_view->setPage(new CQuietPage(m_profile, m_view));
    auto* settings = m_view->page()->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) { OnLoading(info); });
}

CMapPageWnd::~CMapPageWnd()
{
    // The page must go before the profile it was made with.
    delete m_view;
    m_view = nullptr;
}

void CMapPageWnd::SetFolders(std::filesystem::path resources, std::filesystem::path data)
{
    m_resources = std::move(resources);
    m_data = std::move(data);
}

std::string CMapPageWnd::ConvertFlagScript(bool convertGps)
{
    return std::string("SetConvertCoorFlag(") + (convertGps ? "0" : "1") + ")";
}

void CMapPageWnd::LoadMapPage(const MapPageOptions& options)
{
    m_queue.Reset();
    m_lastError.clear();
    m_showingError = false;
    m_tiles.reset();
    auto* handler = static_cast<CTileSchemeHandler*>(
        const_cast<QWebEngineUrlSchemeHandler*>(m_profile->urlSchemeHandler(kTileScheme)));

    const std::filesystem::path chart = m_resources / "chart";
    std::filesystem::path page = chart / MapPageName(options.mapType, options.language);
    const bool keyed = MapPageTakesKey(options.mapType) && !options.googleKey.empty();
    std::vector<std::string> first{ConvertFlagScript(options.convertGps)};

    if (options.mapType == kMapTypeOffline) {
        if (options.gstFile.empty()) {
            ShowNothing("no map file is set");
            return;
        }
        auto tiles = std::make_shared<CMbTiles>();
        std::string error;
        if (tiles->Open(options.gstFile, &error)) {
            m_tiles = tiles;
            first.push_back("SetTileSource('" + std::string(kTileScheme) + ":/{z}/{x}/{y}'," +
                            std::to_string(tiles->MinZoom()) + "," + std::to_string(tiles->MaxZoom()) + ")");
        } else {
            // The track is still drawn on the plain background.
            m_lastError = error;
            first.push_back("SetTileSource('',0,18)");
        }
    } else if (keyed) {
        const std::filesystem::path copy = m_data / "chart" / page.filename();
        std::string error;
        if (WriteKeyedPage(page, copy, options.googleKey, &error))
            page = copy;
        else
            m_lastError = error;  // the installed page, without the key, shows the tile map
        first.push_back("SetUserKey(" + ScriptText(options.googleKey) + ",0)");
    }
    if (handler) handler->tiles = m_tiles;
    if (m_tool != 1001) first.push_back("SetMapTool(" + std::to_string(m_tool) + ")");
    for (auto& s : first) m_queue.Push(std::move(s));

    m_page = page.string();
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(m_page));
    // A page copy elsewhere still takes its scripts from the installed folder.
    // Every byte of the folder's address is escaped, so no name can end the parameter.
    const QString folder = QUrl::fromLocalFile(QString::fromStdString((chart / "").string())).toString(QUrl::FullyEncoded);
    url.setQuery("res=" + QString::fromLatin1(QUrl::toPercentEncoding(folder)), QUrl::StrictMode);
    m_requested = url;
    m_view->load(url);
}

void CMapPageWnd::ShowNothing(const std::string& why)
{
    m_lastError = why;
    m_page.clear();
    m_requested = QUrl();
    m_queue.SetLoaded(false);
    m_showingError = true;
    m_view->setHtml("<html><body bgcolor=\"white\"></body></html>");
}

void CMapPageWnd::OnLoading(const QWebEngineLoadingInfo& info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        if (m_showingError || info.url().toLocalFile() != m_requested.toLocalFile()) return;
        m_queue.SetLoaded(true);
        Flush();
        Q_EMIT PageLoaded(true);
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        if (m_showingError || info.errorCode() == kAborted || info.url().toLocalFile() != m_requested.toLocalFile())
            return;
        m_queue.SetLoaded(false);
        m_showingError = true;
        m_lastError = info.errorString().toStdString();
        m_view->setHtml(FailurePage(info.url().toString(), info.errorString(), info.errorCode()));
        Q_EMIT PageLoaded(false);
        return;
    default:
        return;
    }
}

void CMapPageWnd::Flush()
{
    for (const auto& s : m_queue.TakeReady()) m_view->page()->runJavaScript(QString::fromStdString(s));
}

void CMapPageWnd::RunScript(const std::string& script)
{
    if (m_queue.Push(script)) Flush();
}

bool CMapPageWnd::Loaded() const { return m_queue.Loaded(); }

std::string CMapPageWnd::Page() const { return m_page; }

std::vector<std::string> CMapPageWnd::Scripts() const { return m_queue.Run(); }

void CMapPageWnd::SetTool(int tool)
{
    if (tool != 1001 && tool != 1003 && tool != 1004) return;
    m_tool = tool;
    RunScript("SetMapTool(" + std::to_string(tool) + ")");
}

}  // namespace velmor
