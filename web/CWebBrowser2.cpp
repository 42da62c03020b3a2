#include "web/CWebBrowser2.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QVBoxLayout>

#include "platform/Shell.h"
#include "web/LightPane.h"
#include "web/PageView.h"

// Qt's application-wide OpenGL share context, which QGuiApplication makes only
// when Qt::AA_ShareOpenGLContexts is set before it (exported by Qt GUI, declared
// in its private qopenglcontext_p.h).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace zeza {

namespace {

// The full browser module: its path seen from the program's folder once
// installed (and in the build tree, for the program and the benchmarks), and
// where the build puts it (for the tests, which run from deeper folders of the
// build tree). Both empty where the build has no full browser.
constexpr char kModuleFromProgram[] = ZEZA_WEBPANE_FROM_PROGRAM;
constexpr char kModuleBuilt[] = ZEZA_WEBPANE_BUILT;
constexpr char kBuildDir[] = ZEZA_WEBPANE_BUILD_DIR;

QString ModulePath() {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString installed = QDir::cleanPath(programDir + '/' + QString::fromUtf8(kModuleFromProgram));
    if (QFileInfo::exists(installed)) return installed;
    if (programDir.startsWith(QString::fromUtf8(kBuildDir) + '/')) return QString::fromUtf8(kModuleBuilt);
    return installed;
}

// Qt WebEngine composes its pages with OpenGL contexts shared with the
// application's global one, which it expects to exist before the engine's
// libraries load (without it the engine crashes). Setting
// Qt::AA_ShareOpenGLContexts before the QApplication would make it at start,
// costing every window tens of megabytes (a software renderer's context) whether
// or not a page is ever shown; it is made here instead, right before the module
// is loaded. As Qt does, it is set even where it cannot be created (no OpenGL, as
// offscreen without a display): the engine then draws without OpenGL.
void MakeSharedOpenGLContext() {
    if (QOpenGLContext::globalShareContext()) return;
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
}

// The module's entry, loaded on the first call; null (said once on stderr) when
// it cannot be loaded, and the panes then show their pages light.
PageViewFactory* FullBrowserModule() {
    static PageViewFactory* factory = [] {
        const QString path = ModulePath();
        PageViewFactory* entry = nullptr;
        QString error;
        if (QFileInfo::exists(path)) {
            MakeSharedOpenGLContext();
            QPluginLoader loader(path);
            QObject* root = loader.instance();
            entry = qobject_cast<PageViewFactory*>(root);
            error = root ? QStringLiteral("a module of another version") : loader.errorString();
        } else {
            error = QStringLiteral("no such file");
        }
        if (!entry) {
            std::fprintf(stderr,
                         "Zeza: the full browser %s could not be loaded (%s); web pages are shown light.\n",
                         qPrintable(path), qPrintable(error));
        }
        return entry;
    }();
    return factory;
}

}  // namespace

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!HasFullBrowser()) {
        m_bLight = true;
        CreateView();
    }
}

CWebBrowser2::~CWebBrowser2() {
    // The view goes first, while the pane it reports to is still whole.
    if (m_pView) delete m_pView->Widget();
}

void CWebBrowser2::CreateView() {
    if (m_pView) return;
    PageViewHooks hooks{[this](bool ok) { emit PageShown(ok); },
                        [](const QUrl& link) { Shell::OpenUrl(link.toString()); }};
    if (!m_bLight) {
        if (PageViewFactory* factory = FullBrowserModule())
            m_pView = factory->CreatePageView(this, hooks);
        else
            m_bLight = true;
    }
    if (!m_pView) m_pView = new LightPane(this, hooks);
    layout()->addWidget(m_pView->Widget());
}

bool CWebBrowser2::HasFullBrowser() {
    return kModuleFromProgram[0] != '\0';
}

void CWebBrowser2::UseLightPane() {
    if (m_pView) return;
    m_bLight = true;
    CreateView();
}

bool CWebBrowser2::IsFullBrowser() const {
    return !m_bLight;
}

void CWebBrowser2::Navigate(const QString& url) {
    m_strUrl = url;
    CreateView();
    m_pView->Navigate(QUrl(url));
}

void CWebBrowser2::ReadShownText(std::function<void(const QString&)> done) const {
    if (m_pView)
        m_pView->ReadShownText(std::move(done));
    else
        done(QString());
}

void CWebBrowser2::RunScript(const QString& script) {
    if (m_pView) m_pView->RunScript(script);
}

}  // namespace zeza
