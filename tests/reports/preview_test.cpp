// The print-preview component: the page list (memory and temporary file), states, copies,
// zoom limits, paper kinds, keys and wheel, printing ranges and copies to PDF, abort from
// the progress event, the document, abort, print and zoom events, the zoom's scroll position,
// the paper-view options, and a look at the preview window on screen.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include "pdf_tools.h"
#include "reports/preview_form.h"
#include "reports/print_preview.h"
#include "ui/dialog_service.h"

using namespace kjrep;
using namespace kjreptest;

class PreviewTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    kjqt::ScriptedResponder responder_;
    QString pdf_;

    // n pages, each with "Side <i>" drawn on the canvas at 20 mm, 20 mm and the item text
    // "Post <i>" recorded beside the picture 20 mm further down.
    static void Record(TPrintPreview& p, int n) {
        p.StartDocument();
        for (int i = 1; i <= n; ++i) {
            if (i > 1) p.NextPage();
            QFont f("Arial");
            f.setPixelSize(500);
            p.Canvas()->setFont(f);
            p.Canvas()->drawText(2000, 2500, QString("Side %1").arg(i));
            p.RecordText(QPointF(2000, 4500), QString("Post %1").arg(i), f);
        }
        p.FinishDocument();
        p.RecordText(QPointF(0, 0), "efter", QFont("Arial"));  // not recording: nothing
    }

    // The events of p as they fire, each with the state the preview is in then.
    static void Trace(TPrintPreview& p, QStringList& log) {
        auto hook = [&p, &log](const char* name) {
            return [&p, &log, name] {
                static const char* const states[] = {"idle", "recording", "printing"};
                log << QString("%1 %2 %3").arg(name).arg(states[int(p.State())]).arg(p.PageCount());
            };
        };
        p.OnBeginDoc = hook("BeginDoc");
        p.OnNewPage = hook("NewPage");
        p.OnEndDoc = hook("EndDoc");
        p.OnAbort = hook("Abort");
        p.OnBeforePrint = hook("BeforePrint");
        p.OnAfterPrint = hook("AfterPrint");
        p.OnZoomChange = hook("ZoomChange");
    }

  private slots:
    void initTestCase() {
        pdf_ = dir_.filePath("p.pdf");
        qputenv("KJ_PRINT_PDF", pdf_.toLocal8Bit());
    }
    void init() {
        responder_.Clear();
        kjqt::DialogService::Instance().SetResponder(&responder_);
        QFile::remove(pdf_);
    }
    void cleanup() {
        if (QTest::currentTestFailed()) dir_.setAutoRemove(false);
        kjqt::DialogService::Instance().SetResponder(nullptr);
    }

    void pageListAndStates() {
        TPrintPreview p;
        QCOMPARE(p.CurrentPage(), 0);
        QVERIFY(!p.Canvas());
        Record(p, 3);
        QCOMPARE(p.PageCount(), 3);
        QCOMPARE(p.CurrentPage(), 1);
        QVERIFY(p.Pages().GetPage(-1).IsNull());
        QVERIFY(p.Pages().GetPage(3).IsNull());
        QVERIFY(!p.Pages().GetPage(2).IsNull());
        p.SetCurrentPage(9);
        QCOMPARE(p.CurrentPage(), 3);
        // Pages move into a temporary file and back; the file goes with the pages.
        p.SetUseTempFile(true);
        QString temp = p.Pages().TempFileName();
        QVERIFY(QFileInfo(temp).fileName().startsWith("TMP"));
        QVERIFY(QFileInfo::exists(temp));
        QVERIFY(!p.Pages().GetPage(1).IsNull());
        auto bytes = [&p](int i) {
            const QPicture& page = p.Pages().GetPage(i).picture;
            return QByteArray(page.data(), page.size());
        };
        auto texts = [&p](int i) {
            const TRecordedPage& page = p.Pages().GetPage(i);
            QStringList out;
            for (const TPageText& t : page.texts)
                out << QString("%1 %2,%3 %4px")
                           .arg(t.text)
                           .arg(t.baseline.x())
                           .arg(t.baseline.y())
                           .arg(page.fonts.at(size_t(t.font)).pixelSize());
            return out;
        };
        const QByteArray second = bytes(1);
        QCOMPARE(texts(1), QStringList{"Post 2 2000,4500 500px"});
        p.SetUseTempFile(false);
        QVERIFY(!QFileInfo::exists(temp));
        QCOMPARE(p.PageCount(), 3);
        QCOMPARE(bytes(1), second);
        QCOMPARE(texts(1), QStringList{"Post 2 2000,4500 500px"});
        p.SetUseTempFile(true);
        temp = p.Pages().TempFileName();
        QCOMPARE(bytes(1), second);
        QCOMPARE(texts(2), QStringList{"Post 3 2000,4500 500px"});
        p.ClearPages();
        QVERIFY(!QFileInfo::exists(temp));
        QCOMPARE(p.CurrentPage(), 0);
        // Paper is frozen while recording; an abort discards every page.
        p.StartDocument();
        p.SetPaperType(pA3);
        QCOMPARE(p.PaperType(), pA4);
        QCOMPARE(p.State(), TPreviewState::Recording);
        p.AbortDocument();
        QCOMPARE(p.State(), TPreviewState::Idle);
        QCOMPARE(p.PageCount(), 0);
    }

    void settings() {
        TPrintPreview p;
        p.SetPrintJobCopies(0);
        QCOMPARE(p.PrintJobCopies(), 1);
        p.SetZoom(5);
        QCOMPARE(p.Zoom(), 10);
        QCOMPARE(p.ZoomState(), zsZoomOther);
        p.SetZoom(900);
        QCOMPARE(p.Zoom(), 500);
        p.SetPaperType(pA3);
        QCOMPARE(p.PaperWidth(), 29700);
        p.SetPaperWidth(29700);
        QCOMPARE(p.PaperType(), pA3);
        p.SetOrientation(poLandscape);
        QCOMPARE(p.PaperWidth(), 42000);
        p.SetPaperType(pLetter);  // inch-based kinds convert
        QCOMPARE(p.PaperWidth(), 27940);
        p.SetPaperHeight(1000);
        QCOMPARE(p.PaperType(), pCustom);
        p.SetUnits(mmLoMetric);
        QCOMPARE(p.PaperWidth(), 2794);
        QCOMPARE(TPrintPreview::ConvertUnits(1440, 96, mmTWIPS, mmPoints), 72);
        QCOMPARE(TPrintPreview::ConvertUnits(96, 96, mmPixel, mmHiMetric), 2540);
        QCOMPARE(TPrintPreview::ConvertUnits(5, 0, mmHiMetric, mmPixel), 0);
    }

    void keysAndWheel() {
        TPrintPreview p;
        p.resize(400, 300);
        Record(p, 4);
        QTest::keyClick(&p, Qt::Key_PageDown);
        QCOMPARE(p.CurrentPage(), 2);
        QTest::keyClick(&p, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(p.CurrentPage(), 4);
        QTest::keyClick(&p, Qt::Key_PageUp);
        QCOMPARE(p.CurrentPage(), 3);
        QTest::keyClick(&p, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(p.CurrentPage(), 1);
        p.SetZoom(100);
        QTest::keyClick(&p, Qt::Key_PageDown, Qt::AltModifier);
        QCOMPARE(p.Zoom(), 110);
        QTest::keyClick(&p, Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(p.Zoom(), 120);
        QTest::keyClick(&p, Qt::Key_Home, Qt::AltModifier);
        QCOMPARE(p.ZoomState(), zsZoomToFit);
        QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::ShiftModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(p.viewport(), &down);
        QCOMPARE(p.CurrentPage(), 2);
        QWheelEvent half(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 60), Qt::NoButton,
                         Qt::ControlModifier, Qt::NoScrollPhase, false);
        const int zoom = p.Zoom();
        QApplication::sendEvent(p.viewport(), &half);
        QCOMPARE(p.Zoom(), zoom);  // half a notch does nothing yet
        QApplication::sendEvent(p.viewport(), &half);
        QCOMPARE(p.Zoom(), std::min(zoom + 10, 500));
    }

    void printRangesAndCopies() {
        TPrintPreview p;
        Record(p, 4);
        QVERIFY(!p.PrintRange(3, 2));
        QVERIFY(!QFileInfo::exists(pdf_));
        QVERIFY(p.PrintRange(2, 3));
        QCOMPARE(PdfPages(pdf_), 2);
        QStringList pages = PdfText(pdf_).split('\f');
        QVERIFY(pages[0].contains("Side 2"));
        QVERIFY(pages[1].contains("Side 3"));
        const std::vector<PdfWord> words = PdfWords(pdf_);
        PdfWord w = FindWord(words, "Side");
        QVERIFY(qAbs(Mm(w.xMin) - 20) < 0.5);
        // The recorded item text lands where the canvas would have put it.
        QVERIFY(pages[0].contains("Post 2"));
        PdfWord post = FindWord(words, "Post");
        QVERIFY(qAbs(Mm(post.xMin) - 20) < 0.5);
        QVERIFY(qAbs(Mm(post.yMin - w.yMin) - 20) < 0.5);
        QVERIFY(qAbs((post.yMax - post.yMin) - (w.yMax - w.yMin)) < 0.01);  // the same size
        p.SetPrintJobCopies(2);
        p.FastPrint = false;  // through a bitmap: pages, no text
        QVERIFY(p.PrintRange(1, 4));
        QCOMPARE(PdfPages(pdf_), 8);
        QCOMPARE(responder_.Asked().size(), size_t(0));
    }

    void abortFromProgress() {
        TPrintPreview p;
        Record(p, 5);
        std::vector<int> seen;
        p.OnPrintProgress = [&seen](int page, int, bool& abortIt) {
            seen.push_back(page);
            abortIt = page == 2;
        };
        QVERIFY(!p.PrintAll());
        QVERIFY(p.Aborted());
        QCOMPARE(p.State(), TPreviewState::Idle);
        QCOMPARE(seen, (std::vector<int>{1, 1, 2}));
        QCOMPARE(responder_.Asked().size(), size_t(0));  // the user's abort needs no message
        QVERIFY(!QFile::exists(pdf_));  // no part of the document is left as if it were all
        // Aborted before its first page: no blank page left behind either.
        p.OnPrintProgress = [](int, int, bool& abortIt) { abortIt = true; };
        QVERIFY(!p.PrintAll());
        QVERIFY(!QFile::exists(pdf_));
        p.OnPrintProgress = nullptr;
        QVERIFY(p.PrintAll());
        QCOMPARE(PdfPages(pdf_), 5);
    }

    // Recording a document of two pages raises BeginDoc, NewPage before each page and EndDoc,
    // each seen in the recording state with the pages made so far; finishing a document that
    // is not being recorded raises nothing.
    void documentEvents() {
        TPrintPreview p;
        QStringList log;
        Trace(p, log);
        Record(p, 2);
        // Pages of the old document are gone before the new one begins.
        QCOMPARE(log, QStringList({"BeginDoc recording 0", "NewPage recording 0",
                                   "NewPage recording 1", "EndDoc recording 2"}));
        log.clear();
        p.FinishDocument();  // not recording: nothing
        QVERIFY(log.isEmpty());
    }

    void abortEvent() {
        TPrintPreview p;
        QStringList log;
        Trace(p, log);
        p.StartDocument();
        p.NextPage();
        log.clear();
        p.AbortDocument();
        p.AbortDocument();  // once
        QCOMPARE(log, QStringList({"Abort recording 1"}));
        // While printing: from the progress event.
        Record(p, 3);
        log.clear();
        p.OnPrintProgress = [](int page, int, bool& abortIt) { abortIt = page == 2; };
        QVERIFY(!p.PrintAll());
        QCOMPARE(log, QStringList(
                          {"BeforePrint printing 3", "Abort printing 3", "AfterPrint printing 3"}));
        QCOMPARE(p.State(), TPreviewState::Idle);
    }

    void printEvents() {
        TPrintPreview p;
        Record(p, 3);
        QStringList log;
        Trace(p, log);
        int pagesAtBefore = -1;
        p.OnBeforePrint = [&] {
            log << "BeforePrint";
            pagesAtBefore = QFileInfo::exists(pdf_) ? 1 : 0;
        };
        QVERIFY(p.PrintRange(2, 3));
        QCOMPARE(log, QStringList({"BeforePrint", "AfterPrint printing 3"}));
        QCOMPARE(pagesAtBefore, 0);  // before the job began
        QCOMPARE(PdfPages(pdf_), 2);
        log.clear();
        QVERIFY(!p.PrintRange(3, 2));  // nothing to print: no events
        QVERIFY(log.isEmpty());
    }

    void zoomEventAndScrollPosition() {
        TPrintPreview p;
        p.resize(400, 300);
        p.show();
        Record(p, 1);
        QStringList log;
        Trace(p, log);
        p.SetZoom(200);
        QCOMPARE(log, QStringList({"ZoomChange idle 1"}));
        p.SetZoom(900);  // clamped, still a change
        QCOMPARE(p.Zoom(), 500);
        QCOMPARE(log.size(), 2);
        p.SetZoom(200);
        QScrollBar* v = p.verticalScrollBar();
        QScrollBar* h = p.horizontalScrollBar();
        QVERIFY(v->maximum() > 0 && h->maximum() > 0);
        v->setValue(v->maximum() / 2);
        h->setValue(h->maximum() / 4);
        QVERIFY(p.ZoomSavePos);
        p.SetZoom(300);
        QVERIFY(qAbs(double(v->value()) / v->maximum() - 0.5) < 0.01);
        QVERIFY(qAbs(double(h->value()) / h->maximum() - 0.25) < 0.01);
        p.ZoomSavePos = false;
        p.SetZoom(250);
        QCOMPARE(v->value(), 0);
        QCOMPARE(h->value(), 0);
    }

    void paperViewOptions() {
        TPrintPreview p;
        p.resize(400, 300);
        p.show();
        Record(p, 1);
        TPaperPreviewOptions o;
        int changed = 0;
        o.OnChange = [&changed] { ++changed; };
        QMenu menu;
        menu.addAction("Udskriv");
        TPaperPreviewOptions wanted;
        wanted.PaperColor = Qt::yellow;
        wanted.BorderColor = Qt::red;
        wanted.BorderWidth = 4;
        wanted.ShadowColor = Qt::blue;
        wanted.ShadowWidth = 7;
        wanted.Cursor = Qt::CrossCursor;
        wanted.DragCursor = Qt::SizeAllCursor;
        wanted.GrabCursor = Qt::PointingHandCursor;
        wanted.PopupMenu = &menu;
        o.Assign(wanted);
        QCOMPARE(changed, 1);
        QCOMPARE(o.PaperColor, QColor(Qt::yellow));
        QCOMPARE(o.BorderColor, QColor(Qt::red));
        QCOMPARE(o.BorderWidth, 4);
        QCOMPARE(o.ShadowColor, QColor(Qt::blue));
        QCOMPARE(o.ShadowWidth, 7);
        QCOMPARE(o.Cursor, Qt::CrossCursor);
        QCOMPARE(o.DragCursor, Qt::SizeAllCursor);
        QCOMPARE(o.GrabCursor, Qt::PointingHandCursor);
        QCOMPARE(o.PopupMenu.data(), &menu);
        // The preview's sheet follows its PaperView.
        p.PaperView.Assign(o);
        TPaperPreview* sheet = p.Sheet();
        const QImage img = sheet->grab().toImage();
        const QRect page = sheet->PageRect();
        QCOMPARE(page.topLeft(), QPoint(4, 4));
        QCOMPARE(sheet->width(), page.width() + 2 * 4 + 7);
        QCOMPARE(img.pixelColor(page.center()), QColor(Qt::yellow));
        QCOMPARE(img.pixelColor(1, page.center().y()), QColor(Qt::red));
        QCOMPARE(img.pixelColor(sheet->width() - 2, page.center().y()), QColor(Qt::blue));
        // Cursors: the sheet fits the view, then is larger than it, then is grabbed.
        p.SetZoomState(zsZoomToFit);
        QCOMPARE(sheet->cursor().shape(), Qt::CrossCursor);
        p.SetZoom(300);
        QCOMPARE(sheet->cursor().shape(), Qt::SizeAllCursor);
        QTest::mousePress(sheet, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(sheet->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseRelease(sheet, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(sheet->cursor().shape(), Qt::SizeAllCursor);
        // The pop-up menu opens over the sheet.
        QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(30, 30),
                                  sheet->mapToGlobal(QPoint(30, 30)));
        QApplication::sendEvent(sheet, &context);
        QVERIFY(menu.isVisible());
        menu.close();
        // A member changed and announced.
        p.PaperView.PaperColor = Qt::green;
        p.PaperView.Changed();
        QCOMPARE(sheet->grab().toImage().pixelColor(sheet->PageRect().center()), QColor(Qt::green));
    }

    void windowScreenshot() {
        TPreviewForm form;
        form.PrepareReport(false);
        form.SetPaper(9, 21000, 29700, 0, TMargins{600, 600, 600, 1200});
        TSkrivListe head;
        ParseLayoutLine("Titel", "Udsnit af en liste;0;100;1900;88;V;;;;;;", nullptr, &head,
                        nullptr);
        ParseLayoutLine("Side", "Side &SIDE;0;0;1900;35;H;;;;;;", nullptr, &head, nullptr);
        form.HeadList = &head;
        form.StartReport();
        TSkrivListe line;
        ParseLayoutLine("L", "En linje med tekst;0;0;1900;42;V;;;;;", nullptr, &line, nullptr);
        for (int i = 0; i < 30; ++i) form.PrintFields(line);
        form.FinishReport();
        form.resize(900, 700);
        form.show();
        form.VisUdskrift->SetCurrentPage(1);
        QCoreApplication::processEvents();
        QCOMPARE(form.SideNrCaption->text(), QString(" Side 1"));
        // The item texts reach the sheet on screen too.
        const QImage sheet = form.VisUdskrift->Sheet()->grab().toImage();
        const QRect paper = form.VisUdskrift->Sheet()->PageRect().adjusted(2, 2, -2, -2);
        int dark = 0;  // inside the border
        for (int y = paper.top(); y <= paper.bottom(); ++y)
            for (int x = paper.left(); x <= paper.right(); ++x)
                dark += qGray(sheet.pixel(x, y)) < 100;
        QVERIFY2(dark > 1500, qPrintable(QString::number(dark)));
        QImage shot = form.grab().toImage();
        QVERIFY(shot.save(dir_.filePath("preview.png")));
        if (qEnvironmentVariableIsSet("KJ_KEEP_SHOTS"))
            shot.save(qEnvironmentVariable("KJ_KEEP_SHOTS"));
        form.ClearReport();
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
