// The request's reports to the host, apart from any exchange.
#include "protocol/WhoisRequest.h"

#include "support/ProtocolHost.h"

#include <gtest/gtest.h>

namespace {

struct Request {
    explicit Request(TestSink& sink)
        : request(new WhoisRequest(&sink, WIDE_TEXT("dnswhois://127.0.0.1:43/example"))) {
        EXPECT_EQ(request->Parse(), 1);
    }
    ~Request() { WhoisRequest::Discard(request); }
    std::string Reply() const { return Contents(*request->GetStream()->GetIncoming()); }

    WhoisRequest* request;
};

TEST(WhoisRequest, StatusReportsOfNoFailureAndOfAnUnknownOne) {
    TestSink sink;
    Request ok(sink);
    EXPECT_EQ(ok.request->ReportStatus(StatusOk), StatusOk);
    EXPECT_EQ(ok.Reply(), "");
    EXPECT_FALSE(ok.request->IsComplete()) << "nothing is reported for no failure";
    EXPECT_EQ(sink.resultReports, 0);

    Request unknown(sink);
    EXPECT_EQ(unknown.request->ReportStatus(42), 42);
    EXPECT_EQ(unknown.Reply(), StatusLines(StatusUnknownError)) << "never an empty page";
    EXPECT_TRUE(unknown.request->IsComplete());
    EXPECT_EQ(sink.resultReports, 1);
}

TEST(WhoisRequest, AStopBeforeTheFinalReportCompletesTheReplyWithoutReporting) {
    TestSink sink;
    Request stopped(sink);
    stopped.request->RequestStop();
    EXPECT_EQ(stopped.request->ReportStatus(StatusSocketError), StatusSocketError);
    EXPECT_TRUE(stopped.request->IsComplete()) << "the page can still be read whole";
    EXPECT_EQ(stopped.Reply(), StatusLines(StatusSocketError));
    EXPECT_EQ(sink.resultReports + sink.dataReports + sink.otherReports, 0)
        << "an aborted binding hears nothing more";
}

} // namespace
