#pragma once

enum class Operation
{
    ReplaceText,  // single find-and-replace
    ReplacePairs, // ordered find/replace pairs
    FindText,     // find-only, all "||" terms
    InsertText,   // insert in front of or behind the text
};
