// The dataset components' progress window and messages on screen (offscreen platform): the
// 100-step bar advancing in a TzMsgWindow while an index file is built, the window going
// when the build ends, and the library's messages asked through the dialog service.
#include "ui/tz_progress.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"
#include "ui/tz_msg.h"

using namespace kjqt;

namespace {

std::vector<TzMsgWindow*> MsgWindows() {
    std::vector<TzMsgWindow*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = dynamic_cast<TzMsgWindow*>(w)) out.push_back(m);
    return out;
}

// What the screen showed after each change of a progress view.
struct Seen {
    QString caption;
    qsizetype bar = -1;
    bool visible = false;
};
std::vector<Seen> g_seen;

// Wraps the installed view and looks at its window after every change.
class WatchingView : public TzDs::ProgressView {
  public:
    WatchingView() : inner_(MakeProgressView()) {}
    void Show(const std::string& caption, const std::string& text) override {
        inner_->Show(caption, text);
        Look();
    }
    void SetText(const std::string& text) override {
        inner_->SetText(text);
        Look();
    }

  private:
    void Look() {
        TzMsgWindow* w = static_cast<TzProgressView*>(inner_.get())->Window();
        g_seen.push_back({w->windowTitle(), w->TextPanel()->text().size(), w->isVisible()});
    }
    std::unique_ptr<TzDs::ProgressView> inner_;
};

}  // namespace

class TzProgressTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        InstallEngineCallbacks();
        TzCommon::SetErrorChecking(0);
    }
    void cleanup() {
        DialogService::Instance().SetResponder(nullptr);
        InstallEngineCallbacks();
        TzEngine::Reset();
        TzCommon::SetErrorChecking(0);
    }

    void barAdvancesAndWindowCloses() {
        QCOMPARE(MsgWindows().size(), size_t(0));
        {
            TzDs::TTzProgress100 progress("Indexing Sager.MDX...");
            std::vector<TzMsgWindow*> shown = MsgWindows();
            QCOMPARE(shown.size(), size_t(1));
            TzMsgWindow* w = shown[0];
            QVERIFY(w->isVisible());
            QCOMPARE(w->windowTitle(), QStringLiteral("Indexing Sager.MDX..."));
            QCOMPARE(w->Text(), QString(100, QLatin1Char('|')));
            for (int i = 1; i <= 100; ++i) {
                progress.Step();
                QCOMPARE(w->Text().size(), qsizetype(100 - i));
            }
            QVERIFY(w->isVisible());  // an empty bar stays on screen
            progress.Step();          // and the next step fills it again
            QCOMPARE(w->Text(), QString(100, QLatin1Char('|')));
        }
        QCOMPARE(MsgWindows().size(), size_t(0));
    }

    void indexBuildShowsProgress() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string table = dir.filePath(QStringLiteral("poster.dbf")).toStdString();
        {
            TzDs::TTzDbf t("PostDbf");
            t.SetDbfFileName(table);
            t.DbfFields() = {"post_sag, C, 10, 0", "post_pri, N, 5, 0"};
            t.Open();
            for (int i = 0; i < 600; ++i) {
                t.Append();
                t.FieldByName("post_sag").SetAsString("s" + std::to_string(i % 37));
                t.FieldByName("post_pri").SetAsInteger(i);
                t.Post();
            }
        }
        g_seen.clear();
        TzDs::SetProgressViewFactory([] { return std::make_unique<WatchingView>(); });
        TzDs::TTzDbf t("PostDbf");
        t.SetDbfFileName(table);
        t.IndexList() = {"POSTSAG,F,F,UPPER(POST_SAG)", "", "POSTPRI,F,F,STR(POST_PRI,5)", ""};
        t.Open();
        QCOMPARE(TzNdx::TagCount(), 2);
        QVERIFY(g_seen.size() >= 3);
        const QString caption = QStringLiteral("Indexing ") +
                                FromAnsi(TzCommon::ForceExtension(table, "MDX")) +
                                QStringLiteral("...");
        QCOMPARE(g_seen[0].caption, caption);
        QCOMPARE(g_seen[0].bar, qsizetype(100));
        for (size_t i = 1; i < g_seen.size(); ++i) {
            QVERIFY(g_seen[i].visible);
            QCOMPARE(g_seen[i].caption, caption);
            const qsizetype expected = g_seen[i - 1].bar == 0 ? 100 : g_seen[i - 1].bar - 1;
            QCOMPARE(g_seen[i].bar, expected);
        }
        QCOMPARE(MsgWindows().size(), size_t(0));  // gone once the file is built
        // Without ShowProgress no window is made.
        t.Close();
        g_seen.clear();
        t.CreateIndex = TzDs::ciAlways;
        t.ShowProgress = false;
        t.Open();
        QCOMPARE(g_seen.size(), size_t(0));
    }

    void messagesGoThroughTheDialogService() {
        ScriptedResponder r;
        DialogService::Instance().SetResponder(&r);
        TzDs::ShowText(TzDs::FormatText(TzDs::kMsgLockFailed, {"Post"}));
        TzDs::SetMessageLevel(1);
        TzDs::ShowText("not shown at level 1");
        TzDs::SetMessageLevel(2);
        QCOMPARE(r.Asked().size(), size_t(1));
        QCOMPARE(r.Asked()[0].text, QStringLiteral("Lock failed [Post]"));
        QCOMPARE(r.Asked()[0].flags, mb::kOk);
        // Windows-1252 text arrives intact.
        TzDs::ShowText("Kunne ikke oprette 'B\xF8rn.dbf'");
        QCOMPARE(r.Asked()[1].text, QString::fromUtf8("Kunne ikke oprette 'Børn.dbf'"));
    }
};

QTEST_MAIN(TzProgressTest)
#include "tz_progress_test.moc"
