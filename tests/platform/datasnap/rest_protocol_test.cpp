// The REST interface over a real loopback socket, case tables per behaviour.

#include <gtest/gtest.h>

#include <regex>

#include "rest_fixture.h"

namespace {

struct Case {
    const char *verb;
    const char *target;
    const char *body;
    int status;
    const char *expected; // whole response body
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.verb << " " << c.target; }

class RestCases : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { srv = new RestServer(); }
    static void TearDownTestSuite() {
        delete srv;
        srv = nullptr;
    }
    static inline RestServer *srv = nullptr;
};

TEST_P(RestCases, AnswersExactly) {
    const Case &c = GetParam();
    HttpTestClient client(srv->port());
    ASSERT_TRUE(client.connected());
    HttpReply r = client.request(httpRequest(c.verb, c.target, c.body));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.expected);
}

#define P "/datasnap/rest/TTest/params"

// Path splitting and percent decoding.
INSTANTIATE_TEST_SUITE_P(PathSplitting, RestCases, ::testing::Values(
    Case{"GET", P, "", 200, R"({"result":[[null,null,null]]})"},
    Case{"GET", P "/", "", 200, R"({"result":[[null,null,null]]})"},
    Case{"GET", P "/a", "", 200, R"({"result":[["a",null,null]]})"},
    Case{"GET", P "/a/", "", 200, R"({"result":[["a",null,null]]})"},
    Case{"GET", P "/a//", "", 200, R"({"result":[["a","",null]]})"},
    Case{"GET", P "//c/", "", 200, R"({"result":[["","c",null]]})"},
    Case{"GET", P "///", "", 200, R"({"result":[["","",null]]})"},
    Case{"GET", P "/a%2Fb/", "", 200, R"({"result":[["a\/b",null,null]]})"},
    Case{"GET", P "/a+b/", "", 200, R"({"result":[["a+b",null,null]]})"},
    Case{"GET", P "/null/Null/", "", 200, R"({"result":[[null,"Null",null]]})"},
    Case{"GET", "/DataSnap/REST/ttest/PARAMS/x/", "", 200, R"({"result":[["x",null,null]]})"},
    Case{"GET", "/%64atasnap/rest/TTest/params/x/", "", 200, R"({"result":[["x",null,null]]})"},
    Case{"GET", P "/%41%u00e9%uD83D%uDE00/two%20words/100%25/", "", 200,
         R"({"result":[["A\u00E9\uD83D\uDE00","two words","100%"]]})"},
    Case{"GET", P "/a%C3%A7%C3%A3o%20%E2%82%AC/", "", 200, R"({"result":[["a\u00E7\u00E3o \u20AC",null,null]]})"},
    Case{"GET", P "/%ZZ%4/%C3/%uD800x/", "", 200, R"({"result":[["%ZZ%4","\uFFFD","\uFFFDx"]]})"},
    Case{"GET", P "/a\x84%u00e9/\xC3\xA9%41/\xE2\x82/", "", 200, R"({"result":[["a\uFFFD\u00E9","\u00E9A","\uFFFD\uFFFD"]]})"},
    Case{"GET", P "/\"{}|\\^`/", "", 200, R"({"result":[["\"{}|\\^`",null,null]]})"},
    Case{"GET", P "/x?sid=&json=true", "", 200, R"({"result":[["x",null,null]]})"},
    Case{"GET", "http://127.0.0.1/datasnap/rest/TTest/params/abs/", "", 200, R"({"result":[["abs",null,null]]})"},
    Case{"GET", P "/a/b/c/d/", "", 500,
         R"({"error":"Server method TTest.params consumed only 3 input parameters out of 4. Either call with more parameters or change method definition."})"},
    Case{"GET", "/datasnap/rest/TTest/", "", 500,
         R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"},
    Case{"GET", "/datasnap/rest", "", 500,
         R"({"error":"Invalid request format. \/className\/methodName and eventual parameters expected."})"}));

// Verb prefixes, quoted names and lookup.
INSTANTIATE_TEST_SUITE_P(Prefixes, RestCases, ::testing::Values(
    Case{"GET", "/datasnap/rest/TTest/echo/", "", 200, R"({"result":["echo"]})"},
    Case{"POST", "/datasnap/rest/TTest/echo/", "", 200, R"({"result":["updateecho"]})"},
    Case{"PUT", "/datasnap/rest/TTest/echo/", "", 201, R"({"result":["acceptecho"]})"},
    Case{"DELETE", "/datasnap/rest/TTest/echo/", "", 200, R"({"result":["cancelecho"]})"},
    Case{"POST", "/datasnap/rest/TTest/%22echo%22/", "", 200, R"({"result":["echo"]})"},
    Case{"POST", "/datasnap/rest/TTest/\"echo\"/", "", 200, R"({"result":["echo"]})"},
    Case{"GET", "/datasnap/rest/TTest/%22updateecho%22/", "", 200, R"({"result":["updateecho"]})"},
    Case{"GET", "/datasnap/rest/TTest/updateecho/", "", 200, R"({"result":["updateecho"]})"},
    Case{"POST", "/datasnap/rest/TTest/'echo'/", "", 500,
         R"({"error":"TTest.'echo' method not found in the server method list"})"},
    Case{"POST", "/datasnap/rest/TTest/params/", "", 500,
         R"({"error":"TTest.updateparams method not found in the server method list"})"},
    Case{"GET", "/datasnap/rest/TNope/echo/", "", 500,
         R"({"error":"TNope.echo method not found in the server method list"})"},
    Case{"GET", "/datasnap/rest/DSAdmin/GetPlatformName/", "", 200, R"({"result":["win32"]})"},
    Case{"POST", "/datasnap/rest/DSAdmin/GetPlatformName/", "", 200, R"({"result":["win32"]})"},
    Case{"GET", "/datasnap/rest/DSAdmin/ListMethods/ttest/", "", 200,
         R"({"result":[["TTest.params","TTest.updatejson3","TTest.echo","TTest.updateecho","TTest.acceptecho","TTest.cancelecho","TTest.text","TTest.whoami","TTest.wait","TTest.boom"]]})"},
    Case{"OPTIONS", "/datasnap/rest/TTest/echo/", "", 501,
         R"({"error":"Command OPTIONS in request is not supported. Accepted commands are: GET, POST, PUT and DELETE"})"},
    Case{"GET", "/datasnap/rest/TTest/boom/", "", 500, R"({"error":"falhou \"aqui\""})"}));

#define J "/datasnap/rest/TTest/json3"

// Parameters from the body.
INSTANTIATE_TEST_SUITE_P(BodyParameters, RestCases, ::testing::Values(
    Case{"POST", J "/u/p/", R"({"k":1})", 200, R"({"result":[["u","p",{"k":1}]]})"},
    Case{"POST", J "/", R"({"_parameters":["u","p",{"k":1}]})", 200, R"({"result":[["u","p",{"k":1}]]})"},
    Case{"POST", J "/u/", R"({"_parameters":["p",{"k":1}]})", 200, R"({"result":[["u","p",{"k":1}]]})"},
    Case{"POST", "/datasnap/rest/TTest/%22updatejson3%22/u/p/", R"({"k":1})", 200, R"({"result":[["u","p",{"k":1}]]})"},
    Case{"POST", J "/u/p/", "", 200, R"({"result":[["u","p",null]]})"},
    Case{"POST", J "/u/p/", "null", 200, R"({"result":[["u","p",null]]})"},
    Case{"POST", J "/u/p/", R"({"_parameters":{"a":1}})", 200, R"({"result":[["u","p",{"_parameters":{"a":1}}]]})"},
    Case{"POST", J "/u/p/", R"({"a":1,"a":2})", 200, R"({"result":[["u","p",{"a":1,"a":2}]]})"},
    Case{"POST", J "/", R"({"_parameters":[]})", 200, R"({"result":[[null,null,null]]})"},
    Case{"POST", J "/", R"({"_parameters":["u",7,true,"extra"]})", 200, R"({"result":[["u","7",true]]})"},
    Case{"POST", J "/u/p/", "{\"t\":\"a\nb\tc\"}", 200, R"({"result":[["u","p",{"t":"a\nb\tc"}]]})"},
    Case{"POST", J "/u/p/", R"({"t":"x\uD800y\uDC00z\uD83D\uDE00\/"})", 200,
         R"({"result":[["u","p",{"t":"x\uFFFDy\uFFFDz\uD83D\uDE00\/"}]]})"},
    Case{"POST", J "/u/p/", "{\"t\":\"\xC3\xA9\"}", 200, R"({"result":[["u","p",{"t":"\u00E9"}]]})"},
    Case{"POST", J "/u/p/", "abc", 500, R"({"error":"Message content is not a valid JSON value."})"},
    Case{"POST", J "/u/p/", "{\"t\":\"\xC3\"}", 500, R"({"error":"Message content is not a valid JSON value."})"},
    Case{"POST", J "/", R"({"_parameters":[{"x":1}]})", 500,
         R"({"error":"Cannot convert JSON value {\"x\":1} input into TDBXTypes.WideString"})"}));

// Result strings are written in pure ASCII.
INSTANTIATE_TEST_SUITE_P(Escaping, RestCases, ::testing::Values(
    Case{"GET", "/datasnap/rest/TTest/text/%22%5C%2F/", "", 200, R"({"result":["\"\\\/"]})"},
    Case{"GET", "/datasnap/rest/TTest/text/%0A%0D%09%08%0C%01%1F/", "", 200, R"({"result":["\n\r\t\b\f\u0001\u001F"]})"},
    Case{"GET", "/datasnap/rest/TTest/text/%7F~/", "", 200, "{\"result\":[\"\x7F~\"]}"},
    Case{"GET", "/datasnap/rest/TTest/text/%C3%A9%C3%BF%E2%82%AC%F0%9F%98%80/", "", 200,
         R"({"result":["\u00E9\u00FF\u20AC\uD83D\uDE00"]})"}));

// Outside the REST context.
INSTANTIATE_TEST_SUITE_P(Contexts, RestCases, ::testing::Values(
    Case{"GET", "/other/rest/TTest/echo/", "", 404,
         "<HTML><BODY><B>404 Expected datasnap context in request /other/rest/TTest/echo/</B></BODY></HTML>"},
    Case{"GET", "/datasnap/cache/x", "", 501,
         "<HTML><BODY><B>501 Specified protocol in request /cache/x is not supported. Current supported protocols are: rest</B></BODY></HTML>"}));

std::string sessionOf(const HttpReply &r) {
    std::smatch m;
    std::string p = r.header("pragma");
    static const std::regex form(R"(dssession=(\d{1,6}\.\d{1,6}\.\d{1,6}),dssessionexpires=1200000)");
    if (!std::regex_match(p, m, form))
        return {};
    return m[1];
}

const char *kExpired =
    R"({"SessionExpired":"The specified session has expired due to inactivity or was an invalid Session ID"})";

TEST(RestSessions, LifeFromNewToReuseToCloseToExpiredToNew) {
    RestServer srv;
    HttpTestClient c(srv.port());
    HttpReply first = c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
    std::string id = sessionOf(first);
    ASSERT_FALSE(id.empty()) << first.header("pragma");
    std::string instance = first.body;

    const std::string pragma = "Pragma: no-cache, dssession=" + id + "\r\n";
    HttpReply again = c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/", "", pragma));
    EXPECT_EQ(sessionOf(again), id);
    EXPECT_EQ(again.body, instance);
    for (std::string q : {"?sid=", "?SESSIONID=", "?x=1&SessionId="}) {
        HttpReply byQuery = c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/" + q + id));
        EXPECT_EQ(sessionOf(byQuery), id) << q;
        EXPECT_EQ(byQuery.body, instance) << q;
    }
    // the query wins over the header
    HttpReply bad = c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/?sid=1.2.3", "", pragma));
    EXPECT_EQ(bad.status, 403);

    // an error answer still carries the session
    HttpReply err = c.request(httpRequest("GET", "/datasnap/rest/TTest/boom/", "", pragma));
    EXPECT_EQ(err.status, 500);
    EXPECT_EQ(sessionOf(err), id);

    int aliveBefore = TestInstance::alive;
    HttpReply closed = c.request(httpRequest("GET", "/datasnap/rest/CloseSession/", "", pragma));
    EXPECT_EQ(closed.status, 200);
    EXPECT_EQ(closed.reason, R"({"result":[true]})");
    EXPECT_EQ(closed.body, "");
    EXPECT_EQ(closed.header("content-length"), "0");
    EXPECT_FALSE(closed.has("pragma"));
    EXPECT_EQ(TestInstance::alive, aliveBefore - 1); // the session's instance is freed

    for (std::string target : {"/datasnap/rest/TTest/whoami/", "/datasnap/rest/CloseSession/"}) {
        HttpReply gone = c.request(httpRequest("GET", target, "", pragma));
        EXPECT_EQ(gone.status, 403);
        EXPECT_EQ(gone.reason, "Session has expired");
        EXPECT_EQ(gone.body, kExpired);
        EXPECT_FALSE(gone.has("pragma"));
    }

    HttpReply fresh = c.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
    EXPECT_EQ(fresh.status, 200);
    EXPECT_NE(sessionOf(fresh), id);
    EXPECT_NE(fresh.body, instance);
}

TEST(RestSessions, UnknownOrMalformedIdsAreExpired) {
    RestServer srv;
    HttpTestClient c(srv.port());
    for (std::string id : {"1.2.3", "abc", "1.2.3.4", "9999999.1.1"}) {
        HttpReply r = c.request(httpRequest("GET", "/datasnap/rest/TTest/echo/", "", "Pragma: dssession=" + id + "\r\n"));
        EXPECT_EQ(r.status, 403) << id;
        EXPECT_EQ(r.body, kExpired) << id;
    }
}

TEST(RestSessions, TwoSessionsHaveTheirOwnInstances) {
    RestServer srv;
    HttpTestClient a(srv.port()), b(srv.port());
    HttpReply ra = a.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
    HttpReply rb = b.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/"));
    EXPECT_NE(sessionOf(ra), sessionOf(rb));
    EXPECT_NE(ra.body, rb.body);
    // each session keeps its own instance, whichever connection carries it
    HttpReply ra2 = b.request(httpRequest("GET", "/datasnap/rest/TTest/whoami/", "", "Pragma: dssession=" + sessionOf(ra) + "\r\n"));
    EXPECT_EQ(ra2.body, ra.body);
}

TEST(RestSessions, CapEndsTheSessionIdleLongest) {
    datasnap::HttpLimits limits;
    limits.maxSessions = 2;
    RestServer srv(limits);
    HttpTestClient c(srv.port());
    auto call = [&](const std::string &id) {
        return c.request(httpRequest("GET", "/datasnap/rest/TTest/echo/", "", id.empty() ? "" : "Pragma: dssession=" + id + "\r\n"));
    };
    std::string s1 = sessionOf(call(""));
    std::string s2 = sessionOf(call(""));
    EXPECT_EQ(call(s1).status, 200); // s2 is now the one idle longest
    std::string s3 = sessionOf(call(""));
    EXPECT_EQ(srv.http.sessionCount(), 2u);
    EXPECT_EQ(call(s2).status, 403);
    EXPECT_EQ(call(s1).status, 200);
    EXPECT_EQ(call(s3).status, 200);
}

TEST(RestFraming, KeepAliveLengthAndNoExtraHeaders) {
    RestServer srv;
    HttpTestClient c(srv.port());
    for (int i = 0; i < 3; ++i) {
        HttpReply r = c.request(httpRequest("GET", "/datasnap/rest/TTest/echo/"));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("content-length"), std::to_string(r.body.size()));
        EXPECT_EQ(r.header("content-type"), "text/html; charset=ISO-8859-1");
        for (const auto &[name, value] : r.headers) {
            EXPECT_EQ(name.find("access-control"), std::string::npos);
            EXPECT_NE(name, "set-cookie");
            EXPECT_NE(name, "cache-control");
        }
    }
    // pipelined requests are answered in order
    c.send(httpRequest("GET", "/datasnap/rest/TTest/echo/") + httpRequest("PUT", "/datasnap/rest/TTest/echo/"));
    EXPECT_EQ(c.read().body, R"({"result":["echo"]})");
    EXPECT_EQ(c.read().body, R"({"result":["acceptecho"]})");

    HttpTestClient old(srv.port());
    HttpReply r = old.request("GET /datasnap/rest/TTest/echo/ HTTP/1.0\r\n\r\n");
    EXPECT_EQ(r.body, R"({"result":["echo"]})");
    EXPECT_TRUE(old.closedByPeer());
}

TEST(RestFraming, ExpectContinueGetsTheBody) {
    RestServer srv;
    HttpTestClient c(srv.port());
    std::string body = R"({"_parameters":["u","p",{"k":1}]})";
    c.send("POST /datasnap/rest/TTest/json3/ HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n");
    HttpReply cont = c.read();
    EXPECT_EQ(cont.status, 100);
    c.send(body);
    EXPECT_EQ(c.read().body, R"({"result":[["u","p",{"k":1}]]})");
}

} // namespace
