// SPDX-License-Identifier: MIT
// What every route of the stand-in shares: reading the ids of a request, and writing
// an answer.
#ifndef TQ_TOOLS_MOCK_SERVICE_ANSWERS_H
#define TQ_TOOLS_MOCK_SERVICE_ANSWERS_H

#include <httplib.h>
#include <yyjson.h>

#include <string>
#include <vector>

namespace tqmock {

// ASCII letters and digits, at most 64 of them.
bool valid_id(const std::string &id);

// A plain-text answer; a line end is added.
void answer_text(httplib::Response &res, int status, const std::string &text);

// The id query value of a GET; answers 400 itself when it is missing or malformed.
bool query_id(const httplib::Request &req, httplib::Response &res, std::string &id);

// Splits a batch body at commas; surrounding blanks and empty pieces are dropped
// (the client leaves out absent ids but may send empty ones). 400 on a bad id.
bool body_ids(const httplib::Request &req, httplib::Response &res, std::vector<std::string> &ids);

// Writes a built document as the answer and frees it; 500 when it could not be built
// or written for lack of memory.
void answer_doc(httplib::Response &res, yyjson_mut_doc *out, bool built);

} // namespace tqmock

#endif
