// The Lua 5.1 syntax check: a lexer and a recursive-descent recogniser
// shaped like the reference loader's, so that where the loader stops (and
// what counts against its limits: syntax levels, locals, the line of a
// call's '(') is the same here. No code is generated and no value kept.

#include "lua/syntax_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace skiv::lua {

namespace {

constexpr int kEndOfInput = -1;
constexpr int kMaxSyntaxLevels = 200;  // nesting of blocks and expressions
constexpr int kMaxLocals = 200;        // active locals per function

// Tokens: single characters stand for themselves; the rest follow.
enum Token : int {
    kFirstReserved = 257,
    kAnd = kFirstReserved,
    kBreak,
    kDo,
    kElse,
    kElseIf,
    kEnd,
    kFalse,
    kFor,
    kFunction,
    kIf,
    kIn,
    kLocal,
    kNil,
    kNot,
    kOr,
    kRepeat,
    kReturn,
    kThen,
    kTrue,
    kUntil,
    kWhile,
    kConcat,
    kDots,
    kEq,
    kGe,
    kLe,
    kNe,
    kNumber,
    kName,
    kString,
    kEos,
};

constexpr std::array<const char*, 21> kReserved = {
    "and",   "break", "do",  "else", "elseif", "end",    "false", "for",  "function", "if",   "in",
    "local", "nil",   "not", "or",   "repeat", "return", "then",  "true", "until",    "while"};

// The loader runs in the C locale: only ASCII classes count.
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(int c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsAlpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAlnum(int c) {
    return IsAlpha(c) || IsDigit(c);
}
bool IsSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether the loader's number conversion takes the whole numeral: a
// decimal or hexadecimal floating constant as the C library reads it, with
// nothing left over.
bool IsWholeNumber(const std::string& s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto exponent = [&](char lower, auto isDigitClass) {
        if (i < n && (s[i] == lower || s[i] == lower - 32)) {
            std::size_t j = i + 1;
            if (j < n && (s[j] == '+' || s[j] == '-'))
                ++j;
            if (j < n && isDigitClass(s[j])) {
                while (j < n && isDigitClass(s[j]))
                    ++j;
                i = j;
            }
        }
    };
    if (n >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        i = 2;
        std::size_t digits = 0;
        while (i < n && IsHexDigit(s[i]))
            ++i, ++digits;
        if (i < n && s[i] == '.') {
            ++i;
            while (i < n && IsHexDigit(s[i]))
                ++i, ++digits;
        }
        if (digits == 0)
            return false;  // "0x" alone: the conversion stops at the 'x'
        exponent('p', IsDigit);
        return i == n;
    }
    std::size_t digits = 0;
    while (i < n && IsDigit(s[i]))
        ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && IsDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    exponent('e', IsDigit);
    return i == n;
}

struct Stop {
    SyntaxError error;
};

class Lexer {
public:
    explicit Lexer(const ByteSource& source) : m_source(source) {
        m_buffer.resize(64 * 1024);
        Next();
        SkipFirstLineComment();
    }

    int line() const { return m_line; }

    // The next token; for names and numbers its text is in text().
    int Lex() {
        m_text.clear();
        for (;;) {
            switch (m_current) {
                case '\n':
                case '\r':
                    NewLine();
                    continue;
                case '-': {
                    Next();
                    if (m_current != '-')
                        return '-';
                    Next();
                    if (m_current == '[') {
                        const int sep = SkipSeparator();
                        if (sep >= 0) {
                            ReadLongString(false, sep);
                            continue;
                        }
                    }
                    while (m_current != '\n' && m_current != '\r' && m_current != kEndOfInput)
                        Next();
                    continue;
                }
                case '[': {
                    const int sep = SkipSeparator();
                    if (sep >= 0) {
                        ReadLongString(true, sep);
                        return kString;
                    }
                    if (sep == -1)
                        return '[';
                    Fail("invalid long string delimiter");
                }
                case '=':
                    return Pair('=', kEq, '=');
                case '<':
                    return Pair('=', kLe, '<');
                case '>':
                    return Pair('=', kGe, '>');
                case '~':
                    return Pair('=', kNe, '~');
                case '"':
                case '\'':
                    ReadString(m_current);
                    return kString;
                case '.':
                    SaveAndNext();
                    if (m_current == '.') {
                        Next();
                        if (m_current == '.') {
                            Next();
                            return kDots;
                        }
                        return kConcat;
                    }
                    if (!IsDigit(m_current))
                        return '.';
                    ReadNumeral();
                    return kNumber;
                case kEndOfInput:
                    return kEos;
                default:
                    if (IsSpace(m_current)) {
                        Next();
                        continue;
                    }
                    if (IsDigit(m_current)) {
                        ReadNumeral();
                        return kNumber;
                    }
                    if (IsAlpha(m_current) || m_current == '_') {
                        do {
                            SaveAndNext();
                        } while (IsAlnum(m_current) || m_current == '_');
                        for (std::size_t i = 0; i < kReserved.size(); ++i)
                            if (m_text == kReserved[i])
                                return kFirstReserved + static_cast<int>(i);
                        return kName;
                    }
                    const int single = m_current;  // any other byte is a token of its own
                    Next();
                    return single;
            }
        }
    }

    [[noreturn]] void Fail(const char* message) { throw Stop{{m_line, message}}; }

private:
    void Next() {
        if (m_pos == m_end) {
            m_pos = 0;
            m_end = m_atEnd ? 0 : m_source(m_buffer.data(), m_buffer.size());
            if (m_end == 0) {
                m_atEnd = true;
                m_current = kEndOfInput;
                return;
            }
        }
        m_current = static_cast<unsigned char>(m_buffer[m_pos++]);
    }

    void SaveAndNext() {
        m_text.push_back(static_cast<char>(m_current));
        Next();
    }

    // A first line starting with '#' is skipped (its line still counts);
    // text starting with the escape byte is a compiled chunk, which a
    // SavedVariables file never is.
    void SkipFirstLineComment() {
        if (m_current == '#') {
            while (m_current != kEndOfInput && m_current != '\n')
                Next();
            if (m_current == '\n')
                Next();
            m_line = 2;
        }
        if (m_current == 0x1B)
            Fail("compiled chunk, not text");
    }

    void NewLine() {
        const int old = m_current;
        Next();
        if ((m_current == '\n' || m_current == '\r') && m_current != old)
            Next();
        ++m_line;
    }

    int Pair(int second, int both, int alone) {
        Next();
        if (m_current != second)
            return alone;
        Next();
        return both;
    }

    // At '[' or ']': the count of '=' when the same bracket follows them,
    // else -(count)-1.
    int SkipSeparator() {
        const int bracket = m_current;
        int count = 0;
        Next();
        while (m_current == '=') {
            Next();
            ++count;
        }
        return m_current == bracket ? count : -count - 1;
    }

    void ReadLongString(bool isString, int sep) {
        Next();  // the second '['
        if (m_current == '\n' || m_current == '\r')
            NewLine();
        for (;;) {
            switch (m_current) {
                case kEndOfInput:
                    Fail(isString ? "unfinished long string" : "unfinished long comment");
                case '[':
                    if (SkipSeparator() == sep) {
                        Next();
                        if (sep == 0)
                            Fail("nesting of [[...]] is deprecated");
                    }
                    break;
                case ']':
                    if (SkipSeparator() == sep) {
                        Next();
                        return;
                    }
                    break;
                case '\n':
                case '\r':
                    NewLine();
                    break;
                default:
                    Next();
            }
        }
    }

    void ReadString(int delimiter) {
        Next();
        while (m_current != delimiter) {
            switch (m_current) {
                case kEndOfInput:
                case '\n':
                case '\r':
                    Fail("unfinished string");
                case '\\':
                    Next();
                    if (m_current == '\n' || m_current == '\r') {
                        NewLine();
                    } else if (m_current == kEndOfInput) {
                        // reported as unfinished on the next round
                    } else if (IsDigit(m_current)) {
                        int value = 0;
                        int i = 0;
                        do {
                            value = 10 * value + (m_current - '0');
                            Next();
                        } while (++i < 3 && IsDigit(m_current));
                        if (value > 255)
                            Fail("escape sequence too large");
                    } else {
                        Next();  // a letter escape, or the character itself
                    }
                    break;
                default:
                    Next();
            }
        }
        Next();
    }

    void ReadNumeral() {
        do {
            SaveAndNext();
        } while (IsDigit(m_current) || m_current == '.');
        // The loader tests these characters with strchr on "Ee" and "+-",
        // which also finds a NUL byte (the sets' terminator): a NUL right
        // after the digits is taken in as if it were the exponent mark or
        // its sign.
        if (m_current == 'e' || m_current == 'E' || m_current == '\0') {
            SaveAndNext();
            if (m_current == '+' || m_current == '-' || m_current == '\0')
                SaveAndNext();
        }
        while (IsAlnum(m_current) || m_current == '_')
            SaveAndNext();
        // The conversion reads the numeral as a C string: up to a NUL.
        if (!IsWholeNumber(m_text.substr(0, m_text.find('\0'))))
            Fail("malformed number");
    }

    const ByteSource& m_source;
    std::vector<char> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_atEnd = false;
    int m_current = kEndOfInput;
    int m_line = 1;
    std::string m_text;
};

// What the grammar needs to know of an expression.
enum class ExprKind { Variable, Call, Other };

class Parser {
public:
    explicit Parser(const ByteSource& source) : m_lex(source) {}

    void Chunk() {
        OpenFunction(true);
        NextToken();
        StatementList();
        if (m_token != kEos)
            Expected("<eof>");
    }

private:
    struct Block {
        int activeLocals;
        bool breakable;
    };
    struct Function {
        bool vararg = false;
        int activeLocals = 0;
        std::vector<Block> blocks;
    };

    // ---- tokens ----

    void NextToken() {
        m_lastLine = m_lex.line();
        if (m_lookahead != kEos) {
            m_token = m_lookahead;
            m_lookahead = kEos;
        } else {
            m_token = m_lex.Lex();
        }
    }

    int Lookahead() {
        m_lookahead = m_lex.Lex();
        return m_lookahead;
    }

    bool TestNext(int token) {
        if (m_token != token)
            return false;
        NextToken();
        return true;
    }

    void Check(int token) {
        if (m_token != token)
            Expected(TokenText(token));
    }

    void CheckNext(int token) {
        Check(token);
        NextToken();
    }

    void CheckMatch(int what, int who, int line) {
        if (TestNext(what))
            return;
        if (line == m_lex.line())
            Expected(TokenText(what));
        Fail("'" + TokenText(what) + "' expected (to close '" + TokenText(who) + "' at line " +
             std::to_string(line) + ")");
    }

    void CheckName() { CheckNext(kName); }

    [[noreturn]] void Expected(const std::string& what) { Fail("'" + what + "' expected"); }
    [[noreturn]] void Fail(const std::string& message) { throw Stop{{m_lex.line(), message}}; }

    static std::string TokenText(int token) {
        if (token >= kFirstReserved && token < kConcat)
            return kReserved[static_cast<std::size_t>(token - kFirstReserved)];
        switch (token) {
            case kConcat:
                return "..";
            case kDots:
                return "...";
            case kEq:
                return "==";
            case kGe:
                return ">=";
            case kLe:
                return "<=";
            case kNe:
                return "~=";
            case kNumber:
                return "<number>";
            case kName:
                return "<name>";
            case kString:
                return "<string>";
            case kEos:
                return "<eof>";
            default:
                return std::string(1, static_cast<char>(token));
        }
    }

    // ---- scopes and limits ----

    void EnterLevel() {
        if (++m_levels > kMaxSyntaxLevels)
            Fail("chunk has too many syntax levels");
    }
    void LeaveLevel() { --m_levels; }

    Function& F() { return m_functions.back(); }

    void OpenFunction(bool vararg) {
        m_functions.emplace_back();
        F().vararg = vararg;
    }
    void CloseFunction() { m_functions.pop_back(); }

    void EnterBlock(bool breakable) { F().blocks.push_back({F().activeLocals, breakable}); }
    void LeaveBlock() {
        F().activeLocals = F().blocks.back().activeLocals;
        F().blocks.pop_back();
    }

    // A local about to be declared as the n-th of a pending group.
    void NewLocal(int n) {
        if (F().activeLocals + n + 1 > kMaxLocals)
            Fail("too many local variables");
    }
    void ActivateLocals(int count) { F().activeLocals += count; }

    // ---- statements ----

    static bool BlockFollows(int token) {
        return token == kElse || token == kElseIf || token == kEnd || token == kUntil ||
               token == kEos;
    }

    void StatementList() {
        EnterLevel();
        bool last = false;
        while (!last && !BlockFollows(m_token)) {
            last = Statement();
            TestNext(';');
        }
        LeaveLevel();
    }

    void ScopedBlock() {
        EnterBlock(false);
        StatementList();
        LeaveBlock();
    }

    // True for a statement that must end its block (return, break).
    bool Statement() {
        const int line = m_lex.line();
        switch (m_token) {
            case kIf:
                IfStatement(line);
                return false;
            case kWhile:
                NextToken();
                Expression();
                EnterBlock(true);
                CheckNext(kDo);
                ScopedBlock();
                CheckMatch(kEnd, kWhile, line);
                LeaveBlock();
                return false;
            case kDo:
                NextToken();
                ScopedBlock();
                CheckMatch(kEnd, kDo, line);
                return false;
            case kFor:
                ForStatement(line);
                return false;
            case kRepeat:
                EnterBlock(true);
                EnterBlock(false);
                NextToken();
                StatementList();
                CheckMatch(kUntil, kRepeat, line);
                Expression();
                LeaveBlock();
                LeaveBlock();
                return false;
            case kFunction: {
                NextToken();
                CheckName();
                while (m_token == '.') {
                    NextToken();
                    CheckName();
                }
                bool method = false;
                if (m_token == ':') {
                    NextToken();
                    CheckName();
                    method = true;
                }
                FunctionBody(method, line);
                return false;
            }
            case kLocal:
                NextToken();
                if (TestNext(kFunction)) {
                    CheckName();
                    NewLocal(0);
                    ActivateLocals(1);
                    FunctionBody(false, m_lex.line());
                } else {
                    LocalStatement();
                }
                return false;
            case kReturn:
                NextToken();
                if (!BlockFollows(m_token) && m_token != ';')
                    ExpressionList();
                return true;
            case kBreak: {
                NextToken();
                bool inLoop = false;
                for (const Block& b : F().blocks)
                    inLoop = inLoop || b.breakable;
                if (!inLoop)
                    Fail("no loop to break");
                return true;
            }
            default:
                ExpressionStatement();
                return false;
        }
    }

    void IfStatement(int line) {
        do {  // "if" or "elseif" condition "then" block
            NextToken();
            Expression();
            CheckNext(kThen);
            ScopedBlock();
        } while (m_token == kElseIf);
        if (TestNext(kElse))
            ScopedBlock();
        CheckMatch(kEnd, kIf, line);
    }

    void ForStatement(int line) {
        EnterBlock(true);
        NextToken();
        CheckName();
        if (m_token != '=' && m_token != ',' && m_token != kIn)
            Fail("'=' or 'in' expected");
        // Three hidden control locals come before the named ones.
        for (int n = 0; n < 4; ++n)
            NewLocal(n);
        int named = 1;
        if (m_token == '=') {
            NextToken();
            Expression();
            CheckNext(',');
            Expression();
            if (TestNext(','))
                Expression();
        } else if (m_token == ',' || m_token == kIn) {
            while (TestNext(',')) {
                CheckName();
                NewLocal(3 + named);
                ++named;
            }
            CheckNext(kIn);
            ExpressionList();
        }
        ActivateLocals(3);
        CheckNext(kDo);
        EnterBlock(false);
        ActivateLocals(named);
        StatementList();
        LeaveBlock();
        CheckMatch(kEnd, kFor, line);
        LeaveBlock();
    }

    void LocalStatement() {
        int count = 0;
        do {
            CheckName();
            NewLocal(count++);
        } while (TestNext(','));
        if (TestNext('='))
            ExpressionList();
        ActivateLocals(count);
    }

    void ExpressionStatement() {
        const ExprKind kind = PrimaryExpression();
        if (kind != ExprKind::Call)
            Assignment(kind == ExprKind::Variable, 1);
    }

    void Assignment(bool targetIsVariable, int targets) {
        if (!targetIsVariable)
            Fail("syntax error");
        if (TestNext(',')) {
            const bool next = PrimaryExpression() == ExprKind::Variable;
            if (targets > kMaxSyntaxLevels - m_levels)
                Fail("too many variables in assignment");
            Assignment(next, targets + 1);
            return;
        }
        CheckNext('=');
        ExpressionList();
    }

    void FunctionBody(bool method, int line) {
        OpenFunction(false);
        CheckNext('(');
        if (method) {
            NewLocal(0);
            ActivateLocals(1);
        }
        int params = 0;
        if (m_token != ')') {
            do {
                if (m_token == kName) {
                    NextToken();
                    NewLocal(params++);
                } else if (m_token == kDots) {
                    NextToken();
                    NewLocal(params++);  // the implicit 'arg' table
                    F().vararg = true;
                } else {
                    Fail("<name> or '...' expected");
                }
            } while (!F().vararg && TestNext(','));
        }
        ActivateLocals(params);
        CheckNext(')');
        StatementList();
        CheckMatch(kEnd, kFunction, line);
        CloseFunction();
    }

    // ---- expressions ----

    void ExpressionList() {
        Expression();
        while (TestNext(','))
            Expression();
    }

    void Expression() { SubExpression(0); }

    static int UnaryOperator(int token) { return token == kNot || token == '-' || token == '#'; }

    // Left and right binding of a binary operator; left 0 for none.
    static std::pair<int, int> BinaryPriority(int token) {
        switch (token) {
            case '+':
            case '-':
                return {6, 6};
            case '*':
            case '/':
            case '%':
                return {7, 7};
            case '^':
                return {10, 9};
            case kConcat:
                return {5, 4};
            case kEq:
            case kNe:
            case '<':
            case kLe:
            case '>':
            case kGe:
                return {3, 3};
            case kAnd:
                return {2, 2};
            case kOr:
                return {1, 1};
            default:
                return {0, 0};
        }
    }

    // Returns the binary operator that stopped it (0 when none), as the
    // loader's precedence climbing does; nesting counts against the limit.
    int SubExpression(int limit) {
        constexpr int kUnaryPriority = 8;
        EnterLevel();
        if (UnaryOperator(m_token)) {
            NextToken();
            SubExpression(kUnaryPriority);
        } else {
            SimpleExpression();
        }
        int op = m_token;
        auto priority = BinaryPriority(op);
        while (priority.first != 0 && priority.first > limit) {
            NextToken();
            op = SubExpression(priority.second);
            priority = BinaryPriority(op);
        }
        LeaveLevel();
        return priority.first != 0 ? op : 0;
    }

    void SimpleExpression() {
        switch (m_token) {
            case kNumber:
            case kString:
            case kNil:
            case kTrue:
            case kFalse:
                break;
            case kDots:
                if (!F().vararg)
                    Fail("cannot use '...' outside a vararg function");
                break;
            case '{':
                TableConstructor();
                return;
            case kFunction:
                NextToken();
                FunctionBody(false, m_lex.line());
                return;
            default:
                PrimaryExpression();
                return;
        }
        NextToken();
    }

    ExprKind PrimaryExpression() {
        ExprKind kind = ExprKind::Other;
        if (m_token == '(') {
            const int line = m_lex.line();
            NextToken();
            Expression();
            CheckMatch(')', '(', line);
        } else if (m_token == kName) {
            NextToken();
            kind = ExprKind::Variable;
        } else {
            Fail("unexpected symbol");
        }
        for (;;) {
            switch (m_token) {
                case '.':
                    NextToken();
                    CheckName();
                    kind = ExprKind::Variable;
                    break;
                case '[':
                    NextToken();
                    Expression();
                    CheckNext(']');
                    kind = ExprKind::Variable;
                    break;
                case ':':
                    NextToken();
                    CheckName();
                    CallArguments();
                    kind = ExprKind::Call;
                    break;
                case '(':
                case kString:
                case '{':
                    CallArguments();
                    kind = ExprKind::Call;
                    break;
                default:
                    return kind;
            }
        }
    }

    void CallArguments() {
        const int line = m_lex.line();
        switch (m_token) {
            case '(':
                if (line != m_lastLine)
                    Fail("ambiguous syntax (function call x new statement)");
                NextToken();
                if (m_token != ')')
                    ExpressionList();
                CheckMatch(')', '(', line);
                break;
            case '{':
                TableConstructor();
                break;
            case kString:
                NextToken();
                break;
            default:
                Fail("function arguments expected");
        }
    }

    void TableConstructor() {
        const int line = m_lex.line();
        CheckNext('{');
        do {
            if (m_token == '}')
                break;
            if (m_token == kName) {
                if (Lookahead() != '=') {
                    Expression();
                } else {
                    NextToken();
                    CheckNext('=');
                    Expression();
                }
            } else if (m_token == '[') {
                NextToken();
                Expression();
                CheckNext(']');
                CheckNext('=');
                Expression();
            } else {
                Expression();
            }
        } while (TestNext(',') || TestNext(';'));
        CheckMatch('}', '{', line);
    }

    Lexer m_lex;
    int m_token = kEos;
    int m_lookahead = kEos;
    int m_lastLine = 1;
    int m_levels = 1;  // the loader itself sits one level deep
    std::vector<Function> m_functions;
};

}  // namespace

std::optional<SyntaxError> CheckSyntax(const ByteSource& source) {
    try {
        Parser parser(source);
        parser.Chunk();
        return std::nullopt;
    } catch (const Stop& stop) {
        return stop.error;
    }
}

std::optional<SyntaxError> CheckSyntax(std::string_view text) {
    bool given = false;
    return CheckSyntax([&](char* buffer, std::size_t capacity) -> std::size_t {
        if (given)
            return 0;
        const std::size_t n = std::min(capacity, text.size());
        std::memcpy(buffer, text.data(), n);
        text.remove_prefix(n);
        given = text.empty();
        return n;
    });
}

}  // namespace skiv::lua
