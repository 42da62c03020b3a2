#pragma once

#include <string>

#include "server/FundData.h"

namespace zeza::server {

// The HTML pages of the site (UTF-8): the home page, the banner of the main
// window's header pane, the feedback pages and a fund's detail page.
class SitePages {
  public:
    static std::string Home(const FundData& data);
    // Fits the 500 x 70 header pane: the quote date and a one-line market note.
    static std::string Banner(const FundData& data);
    // message, when not empty, is shown above the form (for example "please write something").
    static std::string FeedbackForm(const std::string& message);
    static std::string FeedbackThanks();
    static std::string FeedbackFailed();
    static std::string Fund(const FundData& data, const FundRecord& fund);
    static std::string NotFound(const std::string& what);

    // Text made safe to place in HTML.
    static std::string Escape(const std::string& text);
    // Chinese name of a type code (gu -> 股票型 ...), UTF-8.
    static std::string TypeName(const std::string& typeCode);
};

}  // namespace zeza::server
