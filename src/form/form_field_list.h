// The session's form fields and cookies, each an ordered list of owned entries.
#pragma once

#include <string>

#include "form/form_field.h"
#include "form/owned_list.h"

class FormFieldList : public form::OwnedList<FormField> {};

struct CookieEntry {
    std::string name;
    std::string value;
};

class CookieList : public form::OwnedList<CookieEntry> {};
