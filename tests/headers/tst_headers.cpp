#include "headers/HeaderList.h"
#include "support/ScriptedPrompter.h"

#include <QSignalSpy>
#include <QTest>

class TestHeaders : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void lookupFoldsAsciiCapitalsOnly();
    void lookupFindsFirstOfEqualNames();
    void addRefusesExistingNameWithMessage();
    void addAcceptsEmptyName();
    void deleteByName();
    void rowIdsSurviveOtherDeletions();
    void modelShowsRowsAsText();

private:
    ScriptedPrompter m_prompter;
    std::unique_ptr<HeaderList> m_list;
};

void TestHeaders::init()
{
    m_prompter = ScriptedPrompter();
    m_list = std::make_unique<HeaderList>();
    m_list->setPrompter(&m_prompter);
}

void TestHeaders::lookupFoldsAsciiCapitalsOnly()
{
    m_list->append("Accept", "text/html");
    m_list->append("\xA3\xC1", "fullwidth A");
    QCOMPARE(m_list->IndexOfReqHeader("ACCEPT"), 0);
    QCOMPARE(m_list->IndexOfReqHeader("accept"), 0);
    QCOMPARE(m_list->IndexOfReqHeader("Accept "), -1);
    QCOMPARE(m_list->IndexOfReqHeader("\xA3\xC1"), 1);
    QCOMPARE(m_list->IndexOfReqHeader("\xA3\xE1"), -1); // other case of a non-ASCII letter
    QCOMPARE(m_list->IndexOfReqHeader(""), -1);
    m_list->append("", "x");
    QCOMPARE(m_list->IndexOfReqHeader(""), 2);
}

void TestHeaders::lookupFindsFirstOfEqualNames()
{
    // Rows read from a hand-edited file may repeat a name.
    m_list->append("X-A", "1");
    m_list->append("x-a", "2");
    m_list->append("Y", "3");
    QCOMPARE(m_list->IndexOfReqHeader("X-a"), 0);
    m_list->DelReqHeaderByName("X-A");
    QCOMPARE(m_list->count(), 2);
    QCOMPARE(m_list->value(0), QByteArray("2"));
    QCOMPARE(m_list->name(1), QByteArray("Y"));
}

void TestHeaders::addRefusesExistingNameWithMessage()
{
    QVERIFY(m_list->AddReqHeader("Cookie", "a=1"));
    QVERIFY(!m_list->AddReqHeader("cookie", "b=2"));
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段 cookie 已存在")});
    QCOMPARE(m_list->count(), 1);
    QCOMPARE(m_list->value(0), QByteArray("a=1"));
    // The name is shown exactly as passed, Chinese included.
    QVERIFY(m_list->AddReqHeader("\xD6\xD0", "v"));
    QVERIFY(!m_list->AddReqHeader("\xD6\xD0", "w"));
    QCOMPARE(m_prompter.messages.last(), QStringLiteral("字段 中 已存在"));
}

void TestHeaders::addAcceptsEmptyName()
{
    QVERIFY(m_list->AddReqHeader("", ""));
    QCOMPARE(m_list->count(), 1);
    QVERIFY(!m_list->AddReqHeader("", "other"));
    QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("字段  已存在")});
    // New rows go to the end.
    QVERIFY(m_list->AddReqHeader("Z", "1"));
    QVERIFY(m_list->AddReqHeader("A", "2"));
    QCOMPARE(m_list->name(2), QByteArray("A"));
}

void TestHeaders::deleteByName()
{
    m_list->append("", "empty-name row");
    m_list->append("Accept-Encoding", "gzip");
    m_list->DelReqHeaderByName("");
    QCOMPARE(m_list->count(), 2); // an empty name deletes nothing
    m_list->DelReqHeaderByName("missing");
    QCOMPARE(m_list->count(), 2);
    m_list->DelReqHeaderByName("ACCEPT-ENCODING");
    QCOMPARE(m_list->count(), 1);
    QCOMPARE(m_list->value(0), QByteArray("empty-name row"));
}

void TestHeaders::rowIdsSurviveOtherDeletions()
{
    m_list->append("A", "1");
    m_list->append("B", "2");
    m_list->append("C", "3");
    const auto idB = m_list->idAt(1);
    const auto idC = m_list->idAt(2);
    m_list->removeAt(0);
    QCOMPARE(m_list->rowOfId(idB), 0);
    QCOMPARE(m_list->rowOfId(idC), 1);
    m_list->removeAt(0);
    QCOMPARE(m_list->rowOfId(idB), -1);
    m_list->clear();
    QCOMPARE(m_list->rowOfId(idC), -1);
    // A new row never reuses the id of a deleted one.
    m_list->append("D", "4");
    QVERIFY(m_list->idAt(0) != idB && m_list->idAt(0) != idC);
}

void TestHeaders::modelShowsRowsAsText()
{
    QSignalSpy inserted(m_list.get(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(m_list.get(), &QAbstractItemModel::dataChanged);
    m_list->append("\xD3\xC3\xBB\xA7", "a=1"); // 用户
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(m_list->columnCount(), 2);
    QCOMPARE(m_list->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("字段名"));
    QCOMPARE(m_list->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("字段值"));
    QCOMPARE(m_list->data(m_list->index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("用户"));
    m_list->setValue(0, "b=2");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_list->data(m_list->index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("b=2"));
}

QTEST_APPLESS_MAIN(TestHeaders)
#include "tst_headers.moc"
