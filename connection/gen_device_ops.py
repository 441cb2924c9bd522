#!/usr/bin/env python3
"""Generates ReaderDevice and its slot tables from connection/device_ops.txt.

The table is the only place where slot names, arguments, results and trace
descriptors are written down; everything else is generated from it (the
class with its "not supported" defaults now, the traced forwarders and the
public C declarations later).

Table format (connection/device_ops.txt)
----------------------------------------
Lines starting with '#' and blank lines are ignored.  Each slot is a header
line followed by one indented line per argument, in argument order.  The
first argument (icdev or idhandle) is implied by `first=` and not listed.

  slot <n> <name> [key=value ...]
    n       slot number; slots must appear as 0, 1, 2, ... 696
    name    operation name as the API spells it (kx_/qm_ names derive from it)
    member=<id>   C++ member identifier (default: name); used where the name
                  is not a valid identifier (it starts with a digit)
    core=<kind>   traced (default): traced core operation "kx_<name>";
                  bare: traced under the name itself;
                  untraced: core entry without any trace;
                  manager: the core operation goes to the device manager;
                  none: no core operation (destructor, reserved slot)
    result=<kind> i16 (default, default value -1), i32 (-1), text_ptr
                  (char*, null), bytes_ptr (unsigned char*, null),
                  length (int32_t, 0), void, dtor (slot 0), reserved
    first=<label> icdev (default), idhandle, or none
    custom=<tag>[,<tag>...]  the trace departs from the plain frame; the
                  tag names how (see CUSTOM_TAGS below)
    product=<kind>  forward: the product API exports "qm_<name>", which
                  calls the core operation with the same arguments;
                  hidden: the same forwarder is built but not exported;
                  omitted: no product forwarder
    same=<member> the operation is the other slot's under a second name for
                  every reader: the interface default hands the call on to
                  that slot with the same arguments (same types and result)

  <label> <dir> <type> <form> [key=value ...]
    label   trace label, verbatim (may be a reserved C++ name such as _Mode;
            generated code then leaves the parameter unnamed)
    dir     in, out or inout (inout: traced before and after the call)
    type    u8 i16 u16 i32 u32 (by value) | u8* u16* i16* i32* u32*
            (pointer to one value) | text (NUL-terminated characters) |
            bytes (byte buffer).  C types: see Arg.ctype.
    form    trace form: byte short word int hex32 hex16 text bytes char
            image none (none: passed to the device but never traced).
            For pointers the form applies to the value pointed to.
    count=<rule>  byte count of a traced buffer:
                  <n>            a constant
                  <label>        an input argument's value at its own width
                  *<label>       the value a pointer argument holds when the
                                 line is written (after the call for outputs)
                  <label>*<n>, *<label>*<n>   the same times a constant
                  ...+<c>        and a constant added
                  result         the call's result
                  custom         decided by the slot's custom tag
                  device         unknown to the caller (sized by the device)
    size=device   the caller's buffer size is not passed; the device bounds it
    max=<n>       trace at most n bytes
    ctype=<type>  C type overriding the one derived from dir and type
    most=<rule>   the most bytes the device writes into an output buffer, a
                  text's NUL included (the public header gives it):
                  <n>            a constant (0: no reader writes it)
                  <label>[*<k>][+<c>]   an input argument's value times k,
                                 plus c
                                 (2 x length hex digits and a NUL:
                                 length*2+1)
                  *<label>       the value a pointer argument holds when the
                                 call is made (a capacity the caller gives)
                  Every output text or byte buffer has a most= rule, except
                  one whose count already says how many bytes it gets (a
                  constant, an input argument, the result).

Python API (for other generators; import this file as a module)
---------------------------------------------------------------
  table = load_table(path)            -> list[Slot], validated, slot order
  slot.number, .name, .member, .core, .result, .first, .custom, .product, .args
  slot.traced_name                    "kx_read", "swr_alleeprom" or None
  slot.arg_count                      arguments including the first
  slot.result_ctype / .default_expr   C result type and default value text
  slot.params(named=True)             [(ctype, name or None), ...] incl. first
  slot.declaration(prefix, named)     "int16_t <prefix><member>(int32_t icdev, ...)"
  arg.label, .dir, .type, .form, .count (CountRule or None), .size_by_device,
  arg.max, .most (CountRule or None), .largest (CountRule or None: most=,
  or what the count says), .ctype, .is_input, .is_output, .cpp_name (None
  when unusable)
  CountRule: .kind in const|arg|deref|result|custom|device, .label,
             .factor, .offset, .value
  EMITTERS: output file name -> function(table) -> text; add an entry (or
            call the functions directly) to generate more files.

Command line:
  gen_device_ops.py --table device_ops.txt --out-dir DIR   writes EMITTERS
  gen_device_ops.py --table device_ops.txt --check         validates only
"""

import argparse
import os
import re
import sys

SLOT_COUNT = 697

SCALARS = {'u8': 'uint8_t', 'i16': 'int16_t', 'u16': 'uint16_t',
           'i32': 'int32_t', 'u32': 'uint32_t'}
POINTERS = {k + '*': v + '*' for k, v in SCALARS.items()}
FORMS = {'byte', 'short', 'word', 'int', 'hex32', 'hex16', 'text', 'bytes',
         'char', 'image', 'none'}
CORE_KINDS = {'traced', 'bare', 'untraced', 'manager', 'none'}
PRODUCT_KINDS = {'forward', 'hidden'}
RESULTS = {
    # kind: (C type, default expression)
    'i16': ('int16_t', '-1'),
    'i32': ('int32_t', '-1'),
    'text_ptr': ('char*', 'nullptr'),
    'bytes_ptr': ('unsigned char*', 'nullptr'),
    'length': ('int32_t', '0'),
    'void': ('void', None),
    'dtor': (None, None),
    'reserved': (None, None),
}
FIRST = {'icdev', 'idhandle', 'none'}
# Only what the forms, counts, directions and result kinds cannot say has a
# tag; core_api/gen_core_api.py refuses a tag that changes nothing where it
# stands.
CUSTOM_TAGS = {
    'password_by_zone': 'password traced as 2 bytes, then 2/6/4 bytes for '
                        'zone 0/11/12, no second line for other zones',
    'record_by_table': 'recorddata: 64 bytes for table 0, 4 for table 1, '
                       'no line otherwise',
    'photo_by_length': 'photo traced as min(1024, the photo length query) '
                       'bytes',
    'finger_by_length': 'finger traced as min(1024, the fingerprint length '
                        'query) bytes',
    'result_hex32': 'return line 0x%08X of the 32-bit result',
    'result_text': 'return line is the returned text (null: empty)',
    'result_bytes_1024': 'return line is 1024 bytes at the returned pointer',
    'result_length': 'return line %d of the 32-bit length',
    'value_by_flag': 'value traced in for flag 1, out for flag 0 on success',
    'photo_by_type': 'photo: text in for type 0; photo_len in/out and bytes '
                     'out for type 1, text out for type 2',
    'ex_data_by_flag': 'ex_data/ex_len in for flag 2, out for flag 1',
    'length_prefixed': 'config_data traced as 1 + its first byte',
    'text_by_charset': 'text traced as hex, length by charset',
    'secret_up_to_6': 'secret traced up to its first NUL, at most 6 bytes',
    'data_by_flag': 'data traced as *data_size bytes when flag is not 0, '
                    'as 0 bytes for flag 0',
}
# The C++ keywords (and the two identifiers with special meaning), never
# usable as parameter or member names.
CPP_KEYWORDS = {
    'alignas', 'alignof', 'and', 'and_eq', 'asm', 'auto', 'bitand', 'bitor',
    'bool', 'break', 'case', 'catch', 'char', 'char8_t', 'char16_t',
    'char32_t', 'class', 'compl', 'concept', 'const', 'consteval',
    'constexpr', 'constinit', 'const_cast', 'continue', 'co_await',
    'co_return', 'co_yield', 'decltype', 'default', 'delete', 'do',
    'double', 'dynamic_cast', 'else', 'enum', 'explicit', 'export', 'extern',
    'false', 'float', 'for', 'friend', 'goto', 'if', 'inline', 'int', 'long',
    'mutable', 'namespace', 'new', 'noexcept', 'not', 'not_eq', 'nullptr',
    'operator', 'or', 'or_eq', 'private', 'protected', 'public', 'register',
    'reinterpret_cast', 'requires', 'return', 'short', 'signed', 'sizeof',
    'static', 'static_assert', 'static_cast', 'struct', 'switch', 'template',
    'this', 'thread_local', 'throw', 'true', 'try', 'typedef', 'typeid',
    'typename', 'union', 'unsigned', 'using', 'virtual', 'void', 'volatile',
    'wchar_t', 'while', 'xor', 'xor_eq', 'override', 'final'}
IDENT = re.compile(r'^[A-Za-z_][A-Za-z0-9_]*$')


class TableError(Exception):
    pass


def usable_identifier(text):
    """True for a name generated C++ may declare: no keyword, not reserved."""
    if not IDENT.match(text) or text in CPP_KEYWORDS:
        return False
    if '__' in text or re.match(r'^_[A-Z]', text):
        return False
    return True


class CountRule:
    """A count= or most= rule: a constant, result, custom, device, or an
    argument's value (*label: the value a pointer holds) times k plus c."""
    PATTERN = re.compile(r'^(\*?)([A-Za-z_][A-Za-z0-9_]*)(?:\*(\d+))?(?:\+(\d+))?$')

    def __init__(self, text):
        self.text = text
        self.label = None
        self.factor = 1
        self.offset = 0
        self.value = None
        if text.isdigit():
            self.kind, self.value = 'const', int(text)
        elif text in ('result', 'custom', 'device'):
            self.kind = text
        else:
            m = self.PATTERN.match(text)
            if not m:
                raise TableError('bad rule ' + text)
            self.kind = 'deref' if m.group(1) else 'arg'
            self.label = m.group(2)
            self.factor = int(m.group(3) or 1)
            self.offset = int(m.group(4) or 0)

    def __repr__(self):
        return 'CountRule(%r)' % self.text


class Arg:
    def __init__(self, label, direction, type_, form, options):
        self.label = label
        self.dir = direction
        self.type = type_
        self.form = form
        self.count = CountRule(options.pop('count')) if 'count' in options else None
        self.size_by_device = options.pop('size', None) == 'device'
        self.max = int(options.pop('max')) if 'max' in options else None
        self.ctype_override = options.pop('ctype', None)
        self.most = CountRule(options.pop('most')) if 'most' in options else None
        if self.most and (self.most.kind in ('result', 'custom', 'device') or (
                self.most.kind == 'deref' and (self.most.factor != 1 or self.most.offset))):
            raise TableError('bad most rule ' + self.most.text)
        if options:
            raise TableError('unknown argument keys %s' % sorted(options))
        self.cpp_name = None  # set by the slot once names are checked

    @property
    def is_buffer(self):
        return self.type in ('text', 'bytes')

    @property
    def largest(self):
        """The most bytes the device writes here: most=, or the count when
        it is a constant, an input's value or the result."""
        if self.most:
            return self.most
        if self.count and self.count.kind in ('const', 'arg', 'result'):
            return self.count
        return None

    @property
    def is_input(self):
        return self.dir in ('in', 'inout')

    @property
    def is_output(self):
        return self.dir in ('out', 'inout')

    @property
    def ctype(self):
        if self.ctype_override:
            return self.ctype_override
        if self.type in SCALARS:
            return SCALARS[self.type]
        if self.type in POINTERS:
            return POINTERS[self.type]
        const = 'const ' if self.dir == 'in' else ''
        return const + ('char*' if self.type == 'text' else 'unsigned char*')


class Slot:
    def __init__(self, number, name, options):
        self.number = number
        self.name = name
        self.member = options.pop('member', name)
        self.core = options.pop('core', 'traced')
        self.result = options.pop('result', 'i16')
        self.first = options.pop('first', 'icdev')
        tags = options.pop('custom', '')
        self.custom = [t for t in tags.split(',') if t]
        self.product = options.pop('product', None)
        self.same = options.pop('same', None)
        if options:
            raise TableError('slot %d: unknown keys %s' % (number, sorted(options)))
        self.args = []

    @property
    def traced_name(self):
        if self.core == 'traced':
            return 'kx_' + self.name
        if self.core == 'bare':
            return self.name
        return None

    @property
    def arg_count(self):
        return len(self.args) + (0 if self.first == 'none' else 1)

    @property
    def result_ctype(self):
        return RESULTS[self.result][0]

    @property
    def default_expr(self):
        return RESULTS[self.result][1]

    def params(self, named=True):
        out = []
        if self.first != 'none':
            out.append(('int32_t', self.first if named else None))
        for a in self.args:
            out.append((a.ctype, a.cpp_name if named else None))
        return out

    def declaration(self, prefix='', named=True):
        """C++ declaration text without 'virtual' and trailing ';'."""
        parts = []
        labels = ([self.first] if self.first != 'none' else []) + [a.label for a in self.args]
        for (ctype, name), label in zip(self.params(named), labels):
            if name:
                parts.append('%s %s' % (ctype, name))
            elif named:
                parts.append('%s /*%s*/' % (ctype, label))
            else:
                parts.append(ctype)
        return '%s %s%s(%s)' % (self.result_ctype, prefix, self.member, ', '.join(parts))

    def validate(self):
        where = 'slot %d %s' % (self.number, self.name)
        if self.core not in CORE_KINDS:
            raise TableError(where + ': core ' + self.core)
        if self.result not in RESULTS:
            raise TableError(where + ': result ' + self.result)
        if self.first not in FIRST:
            raise TableError(where + ': first ' + self.first)
        for t in self.custom:
            if t not in CUSTOM_TAGS:
                raise TableError(where + ': custom tag ' + t)
        if self.product is not None and self.product not in PRODUCT_KINDS:
            raise TableError(where + ': product ' + self.product)
        if self.product is not None and self.core not in ('traced', 'bare'):
            raise TableError(where + ': a product forwarder needs a traced core operation')
        if self.result not in ('dtor', 'reserved') and not usable_identifier(self.member):
            raise TableError(where + ': member ' + self.member)
        by_label = {}
        for a in self.args:
            if a.dir not in ('in', 'out', 'inout'):
                raise TableError(where + ': dir ' + a.dir)
            if a.type not in SCALARS and a.type not in POINTERS and a.type not in ('text', 'bytes'):
                raise TableError(where + ': type ' + a.type)
            if a.type in SCALARS and a.dir != 'in':
                raise TableError(where + ': by-value argument must be in: ' + a.label)
            if a.form not in FORMS:
                raise TableError(where + ': form ' + a.form)
            if a.form == 'bytes' and a.count is None:
                raise TableError(where + ': bytes without count: ' + a.label)
            by_label.setdefault(a.label, a)
        for a in self.args:
            if a.most is not None and not (a.is_output and a.is_buffer):
                raise TableError(where + ': most= on %s, not an output buffer' % a.label)
            if a.is_output and a.is_buffer and a.largest is None:
                raise TableError(where + ': output %s without most=' % a.label)
            for rule, what in ((a.count, 'count'), (a.most, 'most')):
                if rule is None or rule.label is None:
                    continue
                ref = by_label.get(rule.label)
                if ref is None:
                    raise TableError(where + ': %s refers to unknown %s' % (what, rule.label))
                if rule.kind == 'arg' and ref.type not in SCALARS:
                    raise TableError(where + ': %s %s is not a value' % (what, rule.text))
                if rule.kind == 'deref' and ref.type not in POINTERS:
                    raise TableError(where + ': %s %s is not a pointer' % (what, rule.text))
                if what == 'most' and rule.kind == 'deref' and not ref.is_input:
                    raise TableError(where + ': most %s is not given by the caller' % rule.text)
        # Parameter names: the label where C++ allows it, unnamed otherwise.
        seen = {self.first}
        for a in self.args:
            ok = usable_identifier(a.label) and a.label not in seen
            a.cpp_name = a.label if ok else None
            seen.add(a.label)


def _options(tokens, where):
    out = {}
    for tok in tokens:
        if '=' not in tok:
            raise TableError('%s: expected key=value, got %s' % (where, tok))
        k, v = tok.split('=', 1)
        out[k] = v
    return out


def load_table(path):
    slots = []
    with open(path, encoding='utf-8') as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            where = '%s:%d' % (path, lineno)
            tokens = line.split()
            if not line[0].isspace():
                if tokens[0] != 'slot' or len(tokens) < 3:
                    raise TableError(where + ': expected a slot line')
                number = int(tokens[1])
                if number != len(slots):
                    raise TableError('%s: slot %d out of order' % (where, number))
                slots.append(Slot(number, tokens[2], _options(tokens[3:], where)))
            else:
                if not slots or len(tokens) < 4:
                    raise TableError(where + ': bad argument line')
                slots[-1].args.append(
                    Arg(tokens[0], tokens[1], tokens[2], tokens[3], _options(tokens[4:], where)))
    if len(slots) != SLOT_COUNT:
        raise TableError('%d slots, expected %d' % (len(slots), SLOT_COUNT))
    members = {}
    for s in slots:
        s.validate()
        if s.result in ('dtor', 'reserved'):
            continue
        if s.member in members:
            raise TableError('slot %d: member %s used twice' % (s.number, s.member))
        members[s.member] = s
    for s in slots:
        if s.same is None:
            continue
        target = members.get(s.same)
        if target is None or target is s or target.same is not None:
            raise TableError('slot %d: same=%s is not another plain slot' % (s.number, s.same))
        if (s.result_ctype, s.params(named=False)) != (target.result_ctype,
                                                       target.params(named=False)):
            raise TableError('slot %d: same=%s differs in its arguments' % (s.number, s.same))
    return slots


BANNER = '// Generated by connection/gen_device_ops.py from connection/device_ops.txt.\n' \
         '// Do not edit; change the table instead.\n'


def emit_class(table):
    lines = [BANNER, '#pragma once', '', '#include <cstdint>', '',
             '// The device interface: one virtual operation per slot, in slot order.',
             '// Each default answers "not supported" without I/O and writes no output;',
             '// a slot that is another under a second name hands the call on to it.',
             'class ReaderDevice {', ' public:']
    for s in table:
        if s.result == 'dtor':
            lines.append('  virtual ~ReaderDevice() = 0;  // slot 0')
        elif s.result == 'reserved':
            lines.append('  // slot %d is reserved: no operation' % s.number)
        else:
            lines.append('  virtual %s;  // slot %d' % (s.declaration(), s.number))
    lines += ['};', '']
    return '\n'.join(lines)


def emit_defaults(table):
    lines = [BANNER, '#include "connection/reader_device.h"', '',
             '// Out of line, so the vtable and the defaults live in one object file.',
             'ReaderDevice::~ReaderDevice() {}', '']
    for s in table:
        if s.result in ('dtor', 'reserved'):
            continue
        if s.same is not None:
            params = s.params(named=False)
            names = ['a%d' % i for i in range(len(params))]
            lines.append('%s ReaderDevice::%s(%s) { return %s(%s); }' % (
                s.result_ctype, s.member,
                ', '.join('%s %s' % (ctype, n) for (ctype, _), n in zip(params, names)),
                s.same, ', '.join(names)))
            continue
        body = '{}' if s.default_expr is None else '{ return %s; }' % s.default_expr
        lines.append('%s %s' % (s.declaration('ReaderDevice::', named=False), body))
    lines.append('')
    return '\n'.join(lines)


RESULT_ENUM = {'dtor': 'kDestructor', 'reserved': 'kReserved', 'i16': 'kI16',
               'i32': 'kI32', 'text_ptr': 'kTextPointer',
               'bytes_ptr': 'kBytesPointer', 'length': 'kLength', 'void': 'kVoid'}
CORE_ENUM = {'traced': 'kTraced', 'bare': 'kTracedBare', 'untraced': 'kUntraced',
             'manager': 'kDeviceManager', 'none': 'kNone'}


def emit_slot_info(table):
    lines = [BANNER, '#pragma once', '', '#include <cstdint>', '',
             'enum class DeviceResultKind : uint8_t {',
             '  ' + ', '.join(RESULT_ENUM[k] for k in RESULTS) + ',', '};', '',
             'enum class DeviceCoreKind : uint8_t {',
             '  ' + ', '.join(CORE_ENUM.values()) + ',', '};', '',
             'struct DeviceSlotInfo {',
             '  int16_t slot;',
             '  const char* name;    // as the API spells it',
             '  const char* member;  // ReaderDevice member; empty for slots 0 and 195',
             '  int8_t arg_count;    // including icdev / idhandle',
             '  DeviceResultKind result;',
             '  DeviceCoreKind core;',
             '};', '',
             'inline constexpr int kDeviceSlotCount = %d;' % len(table), '',
             'inline constexpr DeviceSlotInfo kDeviceSlots[kDeviceSlotCount] = {']
    for s in table:
        member = '' if s.result in ('dtor', 'reserved') else s.member
        lines.append('    {%d, "%s", "%s", %d, DeviceResultKind::%s, DeviceCoreKind::%s},' % (
            s.number, s.name, member, s.arg_count, RESULT_ENUM[s.result], CORE_ENUM[s.core]))
    lines += ['};', '']
    return '\n'.join(lines)


def emit_slot_calls(table):
    """Test helpers that call operations through a probe.

    call_device_slot(device, slot, probe) calls the operation of one slot
    and returns false, calling nothing, for the destructor, the reserved
    slot and numbers outside the table; call_every_device_slot calls every
    operation once, in slot order. Probe provides handle(), value<T>() for
    scalars, pointer<T>() for every pointer argument (T carries the const),
    result(slot, value) for each result and no_result(slot) after the void
    operation.
    """
    lines = [BANNER, '#pragma once', '', '#include <cstdint>', '',
             '#include "connection/reader_device.h"', '',
             'template <class Probe>',
             'bool call_device_slot(ReaderDevice& device, int slot, Probe& probe) {',
             '  switch (slot) {']
    for s in table:
        if s.result in ('dtor', 'reserved'):
            continue
        values = []
        if s.first != 'none':
            values.append('probe.handle()')
        for a in s.args:
            ct = a.ctype
            if ct.endswith('*'):
                values.append('probe.template pointer<%s>()' % ct[:-1].strip())
            else:
                values.append('probe.template value<%s>()' % ct)
        call = 'device.%s(%s)' % (s.member, ', '.join(values))
        lines.append('    case %d:' % s.number)
        if s.result == 'void':
            lines.append('      %s;' % call)
            lines.append('      probe.no_result(%d);' % s.number)
        else:
            lines.append('      probe.result(%d, %s);' % (s.number, call))
        lines.append('      return true;')
    lines += ['    default:', '      return false;', '  }', '}', '',
              'template <class Probe>',
              'void call_every_device_slot(ReaderDevice& device, Probe& probe) {',
              '  for (int slot = 0; slot < %d; ++slot) call_device_slot(device, slot, probe);'
              % len(table),
              '}', '']
    return '\n'.join(lines)


EMITTERS = {
    'reader_device_class.h': emit_class,
    'reader_device_defaults.cpp': emit_defaults,
    'device_slot_info.h': emit_slot_info,
    'device_slot_calls.h': emit_slot_calls,
}


def write_file(path, text):
    # Written every time: the build reruns this only when the table or the
    # generator changed, and then every output must look newer than both.
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--table', required=True)
    p.add_argument('--out-dir')
    p.add_argument('--check', action='store_true')
    opts = p.parse_args(argv)
    try:
        table = load_table(opts.table)
    except (TableError, ValueError) as e:
        print('device table: %s' % e, file=sys.stderr)
        return 1
    if opts.check:
        return 0
    if not opts.out_dir:
        p.error('--out-dir is required unless --check')
    os.makedirs(opts.out_dir, exist_ok=True)
    for name, emit in EMITTERS.items():
        write_file(os.path.join(opts.out_dir, name), emit(table))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
