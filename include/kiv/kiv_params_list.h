/* Parameter-list interfaces of the Varnolet SDK: named, typed values in an ordered list.
 *
 * Rules of every interface of this SDK:
 *  1. Calling convention: each interface pointer addresses a pointer to a table of function
 *     addresses; slots 0 to 2 are QueryInterface, AddRef and Release; every method is
 *     KIV_STDCALL (__stdcall on 32-bit Windows) and takes the interface pointer first. C++ sees
 *     abstract classes (methods in slot order), C sees `struct X { const XVtbl* lpVtbl; }`
 *     (define KIV_CINTERFACE to get the C view in C++ too). Interfaces may be used by one
 *     thread at a time; only the reference counts are atomic.
 *  2. Status codes: methods returning kivHRESULT give KIV_S_OK (0), KIV_E_UNEXPECTED
 *     (0x8000FFFF) for any error inside, KIV_E_NOINTERFACE (0x80004002) for an unknown
 *     identifier in QueryInterface. "Plain" methods return their value directly; on an error
 *     inside they return 0, null or false and change nothing.
 *  3. Out arguments come last. Interface and variant outputs are set to empty before the work
 *     starts, so they are empty after a failure. The old content of an output is overwritten,
 *     not freed (the COM [out] rule). A null out address is allowed; the value is then dropped.
 *  4. Interfaces: an interface output carries one reference, which the caller releases.
 *     Interfaces passed in are borrowed for the duration of the call.
 *  5. Strings passed in are zero-terminated, borrowed for the call, may be null (read as empty):
 *     8-bit text in the system code page, wide text in UTF-16. Strings returned by plain
 *     getters belong to the interface object: they stay valid until the next name change
 *     through that object or its last Release; null stands for an empty text.
 *  6. Variants (kivVARIANT, 16 bytes) are passed in by address and copied by the callee; the
 *     caller keeps and frees its own. A variant output is filled with a new value that the caller
 *     frees (VariantClear on Windows; its BSTR comes from SysAllocStringLen). Text values in
 *     variants are BSTRs. Incoming variants may also carry KIV_VT_ANSI_STRING (0x0100) or
 *     KIV_VT_WIDE_POINTER (0x0102) with a pointer to zero-terminated text, see the list methods.
 *  7. Booleans are one byte (kivBOOL): 0 false, 1 true; any non-zero input is true.
 *  8. Pointers passed in. May be null: names and texts (read as empty; SetKey null clears the
 *     key), values and defaults (read as empty), the item of AddItem (no item, success), the
 *     other list of Append, AppendRange and AppendAsRow (no other list), and every out address
 *     (the result is dropped; QueryInterface alone refuses a null one). Must not be null: the
 *     interface pointer itself. The module checks every other pointer before it reads through
 *     it (texts, variants, what references and arrays in variants point at, interfaces passed
 *     in) and fails the call (KIV_E_UNEXPECTED; plain methods change nothing) when the memory
 *     is not readable, instead of faulting. Out addresses must be writable; they are not checked.
 *
 * Lifetime of list and item interfaces (this implementation):
 *  - A list wrapper lives until its last Release, unless its owner inside the module holds it
 *    (a "pinned" list handed to a host); then it lives until that owner frees it. When the
 *    owner frees it while others still hold references, the list is detached, not freed under
 *    them: every later call fails (KIV_E_UNEXPECTED, or 0 / null / false for plain methods)
 *    until the last Release frees the wrapper.
 *  - A list lent for one call (the lists of a call record, for example) is detached when the
 *    call ends: a reference kept past the call then fails like a detached list, with AddRef
 *    until its last Release, without one for at least the next 4096 loans (kiv_plugin.h, 4).
 *  - An item interface does not keep its item alive. Each call first checks that the item is
 *    still in its list (the very item, not a new one that took its memory); once it was
 *    deleted, or its list was cleared, freed or detached, the item interface fails like a
 *    detached list (getters of the cached name and key still answer). It stays valid memory
 *    until its own last Release.
 */
#ifndef KIV_KIV_PARAMS_LIST_H
#define KIV_KIV_PARAMS_LIST_H

#include "kiv/kiv_defs.h"

/* Identifiers. IkivParamsList_ has none and cannot be queried. */
static const kivGUID IID_IkivParamsListA = KIV_IID_INIT(0xB1u);
static const kivGUID IID_IkivParamsListW = KIV_IID_INIT(0xB2u);
static const kivGUID IID_IkivParamsListItemA = KIV_IID_INIT(0xB4u);
static const kivGUID IID_IkivParamsListItemW = KIV_IID_INIT(0xB6u);

/* Signature of a live parameter list (IkivParamsList_::GetSignature). */
#define KIV_PARAMS_LIST_SIGNATURE 0x0FDE2E4B
/* DataType of a row-marker item ("$NEW_ROW$"). */
#define KIV_DATATYPE_ROW_MARKER 0xFF01

#if defined(__cplusplus) && !defined(KIV_CINTERFACE)

class IkivParamsListItemA;
class IkivParamsListItemW;

/* One item of a list: name, value, key text, data type and state. Identifier ...B4. */
class IkivParamsListItemA : public IkivUnknown {
 public:
  /* 3: replaces the key text of this interface (null clears it); the item's own key stays. */
  virtual void KIV_STDCALL SetKey(const char* key) = 0;
  /* 4: the item's declared type code (a VARTYPE number, 0xFF01 for a row marker). */
  virtual void KIV_STDCALL SetDataType(int32_t data_type) = 0;
  /* 5: the item's state byte. */
  virtual void KIV_STDCALL SetState(uint8_t state) = 0;
  /* 6: the key text: the name lower-cased, as UTF-8; null when empty. */
  virtual const char* KIV_STDCALL GetKey() = 0;
  /* 7 */
  virtual int32_t KIV_STDCALL GetDataType() = 0;
  /* 8 */
  virtual uint8_t KIV_STDCALL GetState() = 0;
  /* 9: stores a copy of the value; KIV_VT_ANSI_STRING and KIV_VT_WIDE_POINTER are read as text. */
  virtual kivHRESULT KIV_STDCALL SetValue(const kivVARIANT* value) = 0;
  /* 10: a copy of the value; text comes back as a BSTR. */
  virtual kivHRESULT KIV_STDCALL GetValue(kivVARIANT* value) = 0;
  /* 11: renames the item (null: empty). Searches by name keep using the name it was created
     with, so they do not find it under the new name. */
  virtual void KIV_STDCALL SetName(const char* name) = 0;
  /* 12: the name; null when empty. */
  virtual const char* KIV_STDCALL GetName() = 0;
  /* 13: true for a row marker. */
  virtual kivBOOL KIV_STDCALL IsRowMarker() = 0;
};

/* The wide form of an item: the same object answers both identifiers. Identifier ...B6. */
class IkivParamsListItemW : public IkivParamsListItemA {
 public:
  /* 14: as SetName, the text converted to the system code page. */
  virtual void KIV_STDCALL SetNameW(const kivWCHAR* name) = 0;
  /* 15: the name in UTF-16; null when empty. */
  virtual const kivWCHAR* KIV_STDCALL GetNameW() = 0;
  /* 16: as SetValue, but KIV_VT_ANSI_STRING is read as UTF-16 text too. */
  virtual kivHRESULT KIV_STDCALL SetValueW(const kivVARIANT* value) = 0;
  /* 17: same as GetValue. */
  virtual kivHRESULT KIV_STDCALL GetValueW(kivVARIANT* value) = 0;
};

/* Methods shared by both list forms (slots 3 to 11, all plain). No identifier. */
class IkivParamsList_ : public IkivUnknown {
 public:
  /* 3: number of items, row markers included. */
  virtual int32_t KIV_STDCALL GetCount() = 0;
  /* 4: KIV_PARAMS_LIST_SIGNATURE while the list lives, 0 once it is detached. */
  virtual int32_t KIV_STDCALL GetSignature() = 0;
  /* 5, 6: a number the list carries for its users. */
  virtual int32_t KIV_STDCALL GetTag() = 0;
  virtual void KIV_STDCALL SetTag(int32_t tag) = 0;
  /* 7: removes every item. */
  virtual void KIV_STDCALL Clear() = 0;
  /* 8: removes the item at the index; nothing outside 0..count-1. */
  virtual void KIV_STDCALL Delete(int32_t index) = 0;
  /* 9: from `from`, the index of the first row marker or else of the last item. */
  virtual kivBOOL KIV_STDCALL FindRowEnd(int32_t from, int32_t* index, kivBOOL* is_marker) = 0;
  /* 10: closes the current row with a marker unless the last item is one. */
  virtual void KIV_STDCALL NewRow() = 0;
  /* 11: appends the items of another list of this module (either interface pointer), then
     closes the row; null appends only the row marker. Any other pointer changes nothing. */
  virtual void KIV_STDCALL AppendAsRow(IkivParamsList_* other) = 0;
};

/* The list with wide names. Identifier ...B2. Searches take from and to indexes (-1: whole
   list; to -2: up to the end of the current row); names match without regard to case. */
class IkivParamsListW : public IkivParamsList_ {
 public:
  /* 12: the item at the index; empty output outside the list. */
  virtual kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemW** item) = 0;
  /* 13: copies every item of another list of this module (either interface pointer); false when
     it is null or empty; KIV_E_UNEXPECTED for any other pointer. */
  virtual kivHRESULT KIV_STDCALL Append(IkivParamsList_* other, kivBOOL* appended) = 0;
  /* 14: copies the items from..to of another list of this module. */
  virtual kivHRESULT KIV_STDCALL AppendRange(IkivParamsList_* other, int32_t from, int32_t to,
                                             kivBOOL* appended) = 0;
  /* 15: the first item with the name; empty output when there is none. */
  virtual kivHRESULT KIV_STDCALL Find(const kivWCHAR* name, int32_t from, int32_t to,
                                      IkivParamsListItemW** item) = 0;
  /* 16: the index of the first item with the name, or -1. */
  virtual kivHRESULT KIV_STDCALL IndexOf(const kivWCHAR* name, int32_t from, int32_t to,
                                         int32_t* index) = 0;
  /* 17: the value of the first item with the name; empty when there is none. */
  virtual kivHRESULT KIV_STDCALL GetValue(const kivWCHAR* name, int32_t from, int32_t to,
                                          kivVARIANT* value) = 0;
  /* 18: as GetValue, but a copy of the default when there is no such item. */
  virtual kivHRESULT KIV_STDCALL GetValueDef(const kivWCHAR* name, const kivVARIANT* def,
                                             int32_t from, int32_t to, kivVARIANT* value) = 0;
  /* 19: appends an item; none for a blank name. KIV_VT_ANSI_STRING and KIV_VT_WIDE_POINTER
     values are read as UTF-16 text. */
  virtual kivHRESULT KIV_STDCALL Add(const kivWCHAR* name, const kivVARIANT* value,
                                     IkivParamsListItemW** item) = 0;
  /* 20: inserts an item at 0..count; KIV_E_UNEXPECTED outside. */
  virtual kivHRESULT KIV_STDCALL Insert(int32_t index, const kivWCHAR* name,
                                        const kivVARIANT* value, IkivParamsListItemW** item) = 0;
  /* 21: stores the value in the first item with the name, appending one when missing and asked. */
  virtual kivHRESULT KIV_STDCALL SetValue(const kivWCHAR* name, const kivVARIANT* value,
                                          kivBOOL add_if_missing, IkivParamsListItemW** item) = 0;
  /* 22: appends an item with the name and value of the given item (from any list or module);
     a null item gives an empty output and success. The new item is keyed by its name, as Add
     keys it, whatever key text the given item reports. */
  virtual kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemW* source,
                                         IkivParamsListItemW** item) = 0;
};

/* The list with 8-bit names; the same object as its W form. Identifier ...B1. The methods are
   those of IkivParamsListW; the differences are stated. */
class IkivParamsListA : public IkivParamsList_ {
 public:
  virtual kivHRESULT KIV_STDCALL GetItem(int32_t index, IkivParamsListItemA** item) = 0;
  /* 13, 14: `other` is a list interface of this module or the address of a live parameter-list
     object of this module's layout (checked readable); KIV_E_UNEXPECTED for any other pointer. */
  virtual kivHRESULT KIV_STDCALL Append(void* other, kivBOOL* appended) = 0;
  virtual kivHRESULT KIV_STDCALL AppendRange(void* other, int32_t from, int32_t to,
                                             kivBOOL* appended) = 0;
  virtual kivHRESULT KIV_STDCALL Find(const char* name, int32_t from, int32_t to,
                                      IkivParamsListItemA** item) = 0;
  virtual kivHRESULT KIV_STDCALL IndexOf(const char* name, int32_t from, int32_t to,
                                         int32_t* index) = 0;
  virtual kivHRESULT KIV_STDCALL GetValue(const char* name, int32_t from, int32_t to,
                                          kivVARIANT* value) = 0;
  virtual kivHRESULT KIV_STDCALL GetValueDef(const char* name, const kivVARIANT* def,
                                             int32_t from, int32_t to, kivVARIANT* value) = 0;
  /* 19 to 21: KIV_VT_ANSI_STRING values are read as 8-bit text, KIV_VT_WIDE_POINTER as UTF-16. */
  virtual kivHRESULT KIV_STDCALL Add(const char* name, const kivVARIANT* value,
                                     IkivParamsListItemA** item) = 0;
  virtual kivHRESULT KIV_STDCALL Insert(int32_t index, const char* name, const kivVARIANT* value,
                                        IkivParamsListItemA** item) = 0;
  virtual kivHRESULT KIV_STDCALL SetValue(const char* name, const kivVARIANT* value,
                                          kivBOOL add_if_missing, IkivParamsListItemA** item) = 0;
  virtual kivHRESULT KIV_STDCALL AddItem(IkivParamsListItemA* source,
                                         IkivParamsListItemA** item) = 0;
};

#else /* C view */

typedef struct IkivParamsList_ { const struct IkivParamsList_Vtbl* lpVtbl; } IkivParamsList_;
typedef struct IkivParamsListA { const struct IkivParamsListAVtbl* lpVtbl; } IkivParamsListA;
typedef struct IkivParamsListW { const struct IkivParamsListWVtbl* lpVtbl; } IkivParamsListW;
typedef struct IkivParamsListItemA {
  const struct IkivParamsListItemAVtbl* lpVtbl;
} IkivParamsListItemA;
typedef struct IkivParamsListItemW {
  const struct IkivParamsListItemWVtbl* lpVtbl;
} IkivParamsListItemW;

#endif

/* Function tables, slot by slot; T is the interface's own type. */
#define KIV_UNKNOWN_SLOTS(T)                                                         \
  kivHRESULT(KIV_STDCALL* QueryInterface)(T * self, const kivGUID* iid, void** obj); \
  int32_t(KIV_STDCALL* AddRef)(T * self);                                            \
  int32_t(KIV_STDCALL* Release)(T * self);

#define KIV_PARAMS_LIST_ITEM_A_SLOTS(T)                                 \
  KIV_UNKNOWN_SLOTS(T)                                                  \
  void(KIV_STDCALL* SetKey)(T * self, const char* key);                 \
  void(KIV_STDCALL* SetDataType)(T * self, int32_t data_type);          \
  void(KIV_STDCALL* SetState)(T * self, uint8_t state);                 \
  const char*(KIV_STDCALL* GetKey)(T * self);                           \
  int32_t(KIV_STDCALL* GetDataType)(T * self);                          \
  uint8_t(KIV_STDCALL* GetState)(T * self);                             \
  kivHRESULT(KIV_STDCALL* SetValue)(T * self, const kivVARIANT* value); \
  kivHRESULT(KIV_STDCALL* GetValue)(T * self, kivVARIANT* value);       \
  void(KIV_STDCALL* SetName)(T * self, const char* name);               \
  const char*(KIV_STDCALL* GetName)(T * self);                          \
  kivBOOL(KIV_STDCALL* IsRowMarker)(T * self);

#define KIV_PARAMS_LIST_SHARED_SLOTS(T)                                                        \
  KIV_UNKNOWN_SLOTS(T)                                                                         \
  int32_t(KIV_STDCALL* GetCount)(T * self);                                                    \
  int32_t(KIV_STDCALL* GetSignature)(T * self);                                                \
  int32_t(KIV_STDCALL* GetTag)(T * self);                                                      \
  void(KIV_STDCALL* SetTag)(T * self, int32_t tag);                                            \
  void(KIV_STDCALL* Clear)(T * self);                                                          \
  void(KIV_STDCALL* Delete)(T * self, int32_t index);                                          \
  kivBOOL(KIV_STDCALL* FindRowEnd)(T * self, int32_t from, int32_t* index, kivBOOL* is_marker); \
  void(KIV_STDCALL* NewRow)(T * self);                                                         \
  void(KIV_STDCALL* AppendAsRow)(T * self, KIV_INTERFACE IkivParamsList_ * other);

/* Slots 12 to 22; CH is the name's character type, ITEM the item interface, OTHER the type of
   the other list in Append and AppendRange. */
#define KIV_PARAMS_LIST_OWN_SLOTS(T, CH, ITEM, OTHER)                                          \
  kivHRESULT(KIV_STDCALL* GetItem)(T * self, int32_t index, ITEM * *item);                     \
  kivHRESULT(KIV_STDCALL* Append)(T * self, OTHER other, kivBOOL * appended);                  \
  kivHRESULT(KIV_STDCALL* AppendRange)(T * self, OTHER other, int32_t from, int32_t to,        \
                                       kivBOOL * appended);                                    \
  kivHRESULT(KIV_STDCALL* Find)(T * self, const CH* name, int32_t from, int32_t to,            \
                                ITEM** item);                                                  \
  kivHRESULT(KIV_STDCALL* IndexOf)(T * self, const CH* name, int32_t from, int32_t to,         \
                                   int32_t* index);                                            \
  kivHRESULT(KIV_STDCALL* GetValue)(T * self, const CH* name, int32_t from, int32_t to,        \
                                    kivVARIANT* value);                                        \
  kivHRESULT(KIV_STDCALL* GetValueDef)(T * self, const CH* name, const kivVARIANT* def,        \
                                       int32_t from, int32_t to, kivVARIANT* value);           \
  kivHRESULT(KIV_STDCALL* Add)(T * self, const CH* name, const kivVARIANT* value, ITEM** item); \
  kivHRESULT(KIV_STDCALL* Insert)(T * self, int32_t index, const CH* name,                     \
                                  const kivVARIANT* value, ITEM** item);                       \
  kivHRESULT(KIV_STDCALL* SetValue)(T * self, const CH* name, const kivVARIANT* value,         \
                                    kivBOOL add_if_missing, ITEM** item);                      \
  kivHRESULT(KIV_STDCALL* AddItem)(T * self, ITEM * source, ITEM * *item);

typedef struct IkivParamsListItemAVtbl {
  KIV_PARAMS_LIST_ITEM_A_SLOTS(KIV_INTERFACE IkivParamsListItemA)
} IkivParamsListItemAVtbl;

typedef struct IkivParamsListItemWVtbl {
  KIV_PARAMS_LIST_ITEM_A_SLOTS(KIV_INTERFACE IkivParamsListItemW)
  void(KIV_STDCALL* SetNameW)(KIV_INTERFACE IkivParamsListItemW* self, const kivWCHAR* name);
  const kivWCHAR*(KIV_STDCALL* GetNameW)(KIV_INTERFACE IkivParamsListItemW* self);
  kivHRESULT(KIV_STDCALL* SetValueW)(KIV_INTERFACE IkivParamsListItemW* self, const kivVARIANT* value);
  kivHRESULT(KIV_STDCALL* GetValueW)(KIV_INTERFACE IkivParamsListItemW* self, kivVARIANT* value);
} IkivParamsListItemWVtbl;

typedef struct IkivParamsList_Vtbl {
  KIV_PARAMS_LIST_SHARED_SLOTS(KIV_INTERFACE IkivParamsList_)
} IkivParamsList_Vtbl;

typedef struct IkivParamsListWVtbl {
  KIV_PARAMS_LIST_SHARED_SLOTS(KIV_INTERFACE IkivParamsListW)
  KIV_PARAMS_LIST_OWN_SLOTS(KIV_INTERFACE IkivParamsListW, kivWCHAR, KIV_INTERFACE IkivParamsListItemW,
                            KIV_INTERFACE IkivParamsList_*)
} IkivParamsListWVtbl;

typedef struct IkivParamsListAVtbl {
  KIV_PARAMS_LIST_SHARED_SLOTS(KIV_INTERFACE IkivParamsListA)
  KIV_PARAMS_LIST_OWN_SLOTS(KIV_INTERFACE IkivParamsListA, char, KIV_INTERFACE IkivParamsListItemA, void*)
} IkivParamsListAVtbl;

#endif /* KIV_KIV_PARAMS_LIST_H */
