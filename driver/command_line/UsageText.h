#pragma once

// What "-h" prints: a line per row of the option table (OptionRows()), each
// option's forms in a column of their own, then where the results go.
const char* UsageText();
