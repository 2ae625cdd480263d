#include "protocol/WhoisRequest.h"
#include "support/SettingsOverride.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string serverOf(const WhoisSettings& settings) {
    return std::string(settings.defaultServer.GetText()) + " " +
           std::to_string(settings.defaultPort);
}

TEST(WhoisSettings, AbsentSettingsAreTheDefaults) {
    SettingsOverride empty;
    WhoisSettings settings;
    settings.Read();
    EXPECT_EQ(serverOf(settings), "whois.iana.org 43");
    EXPECT_TRUE(settings.followReferrals);
    EXPECT_EQ(settings.connectTimeout, DWORD(WhoisRequest::ConnectTimeout));
    EXPECT_EQ(settings.receiveTimeout, DWORD(WhoisRequest::ReceiveTimeout));
    EXPECT_FALSE(settings.preferRdap);
    EXPECT_STREQ(settings.rdapBootstrap.GetText(), "https://data.iana.org/rdap/");
    EXPECT_STREQ(settings.rdapCaFile.GetText(), "");
}

TEST(WhoisSettings, ValuesAreTaken) {
    SettingsOverride values;
    values.SetText("DefaultServer", "[::1]:4343");
    values.SetNumber("FollowReferrals", 0);
    values.SetNumber("ConnectTimeout", 1500);
    values.SetNumber("ReceiveTimeout", 2500);
    values.SetNumber("PreferRdap", 1);
    values.SetText("RdapBootstrap", "");
    values.SetText("RdapCaFile", "/tmp/ca.pem");
    WhoisSettings settings;
    settings.Read();
    EXPECT_EQ(serverOf(settings), "::1 4343");
    EXPECT_FALSE(settings.followReferrals);
    EXPECT_EQ(settings.connectTimeout, 1500u);
    EXPECT_EQ(settings.receiveTimeout, 2500u);
    EXPECT_TRUE(settings.preferRdap);
    EXPECT_STREQ(settings.rdapBootstrap.GetText(), "") << "empty turns RDAP off";
    EXPECT_STREQ(settings.rdapCaFile.GetText(), "/tmp/ca.pem");
}

TEST(WhoisSettings, DamagedOrAbsurdValuesAreIgnored) {
    const char* badServers[] = {"",     "host:0",   "host:65536", "ho st",
                                "[::1", "host:43x", "<script>",   "a:b:c"};
    for (const char* bad : badServers) {
        SettingsOverride values;
        values.SetText("DefaultServer", bad);
        values.SetNumber("ConnectTimeout", 0);
        values.SetNumber("ReceiveTimeout", 0xFFFFFFFF);
        values.SetText("FollowReferrals", "0"); // the wrong type
        WhoisSettings settings;
        settings.Read();
        EXPECT_EQ(serverOf(settings), "whois.iana.org 43") << bad;
        EXPECT_TRUE(settings.followReferrals);
        EXPECT_EQ(settings.connectTimeout, DWORD(WhoisRequest::ConnectTimeout));
        EXPECT_EQ(settings.receiveTimeout, DWORD(WhoisRequest::ReceiveTimeout));
    }
    SettingsOverride longName;
    longName.SetText("DefaultServer", std::string(300, 'a'));
    longName.SetText("RdapBootstrap", std::string(2000, 'a'));
    longName.SetNumber("PreferRdap", 0);
    WhoisSettings settings;
    settings.Read();
    EXPECT_EQ(serverOf(settings), "whois.iana.org 43") << "an over-long name";
    EXPECT_STREQ(settings.rdapBootstrap.GetText(), "https://data.iana.org/rdap/");
}

} // namespace
