// What the script writer takes from the element table of an IGES file
// read by the program's own reader: the colours the file defines (314) and
// the depth order of its z-order property (406 form 6731).
#pragma once

struct ScriptSource;

// Hands the source the lookups of the defined colours and, when the table
// holds a z-order property, of the z-order.  Nothing for other inputs.
// Called after the file is read and before the script is opened.
void igesScriptSourceOfTable(ScriptSource& source);
