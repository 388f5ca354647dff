// The two coin-count routines called directly, with what they write captured.
#include <climits>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "Untitled3.h"

namespace {

// Runs the routine with standard output sent to a temporary file; returns what it wrote.
template <typename Routine> std::string captured(Routine routine)
{
    std::string text;
    std::FILE *file = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    if (file != nullptr && saved >= 0 && std::fflush(stdout) == 0 &&
        dup2(fileno(file), STDOUT_FILENO) >= 0) {
        routine();
        const bool flushed = std::fflush(stdout) == 0;
        EXPECT_TRUE(dup2(saved, STDOUT_FILENO) >= 0 && flushed);
        if (std::fseek(file, 0, SEEK_SET) != 0)
            ADD_FAILURE() << "cannot read the file back";
        for (int byte = 0; (byte = std::fgetc(file)) != EOF;)
            text += static_cast<char>(byte);
    } else {
        ADD_FAILURE() << "cannot send standard output to a file";
    }
    EXPECT_TRUE(saved < 0 || close(saved) == 0);
    EXPECT_TRUE(file == nullptr || std::fclose(file) == 0);
    return text;
}

std::string greedyLine(int amount)
{
    return captured([amount] { voraz(amount); });
}

std::string greedyLineFor(const std::string &count)
{
    return "Numero de monedas (algoritmo voraz) = " + count + "\n";
}

std::string tableHeader()
{
    return "\n\nTabla de programaci\xF3n dinamica\n";
}

std::string resultLine(int count)
{
    return "\nNumero de monedas (programaci\xF3n dinamica)= " + std::to_string(count) + "\n";
}

} // namespace

TEST(Voraz, TakesTheLargestCoinsFirst)
{
    const struct {
        int amount;
        const char *count;
    } cases[] = {
        {8, "3"},               // 6 + 1 + 1: the 4 no longer fits
        {12, "2"},              // 6 + 6: nothing left for 4 and 1
        {7, "2"},               // 6 + 1
        {5, "2"},               // 4 + 1
        {4, "1"},               // 4
        {1, "1"},               // 1
        {13, "3"},              // 6 + 6 + 1
        {24, "4"},              // four 6s
        {INT_MAX, "357913942"}, // 357913941 sixes and a 1
    };
    for (const auto &entry : cases)
        EXPECT_EQ(greedyLine(entry.amount), greedyLineFor(entry.count))
            << "amount " << entry.amount;
}

TEST(Voraz, CountsNoCoinsForNothingOrLessAndStillWritesTheLine)
{
    for (const int amount : {0, -1, -8, INT_MIN})
        EXPECT_EQ(greedyLine(amount), greedyLineFor("0")) << "amount " << amount;
}

TEST(ProgDinamica, FillsTheTableForEightAndReturnsTheCountItWrites)
{
    int result = 0;
    const std::string text = captured([&result] { result = progDinamica(8); });

    EXPECT_EQ(result, 2);
    EXPECT_EQ(text, tableHeader() +
                        " 1\t 2\t 3\t 4\t 5\t 6\t 7\t 8\t\n"   // coin 1 only
                        " 1\t 2\t 3\t 1\t 2\t 3\t 4\t 2\t\n"   // 1 and 4: two 4s pay 8
                        " 1\t 2\t 3\t 1\t 2\t 1\t 2\t 2\t\n" + // 1, 4 and 6
                        resultLine(2));
    EXPECT_EQ(text.find("99999999"), std::string::npos);
}

TEST(ProgDinamica, BoundsTheColumnsBySmallerAmounts)
{
    int result = -2;
    const std::string six = captured([&result] { result = progDinamica(6); });
    EXPECT_EQ(six, tableHeader() +
                       " 1\t 2\t 3\t 4\t 5\t 6\t\n"
                       " 1\t 2\t 3\t 1\t 2\t 3\t\n"
                       " 1\t 2\t 3\t 1\t 2\t 1\t\n" +
                       resultLine(1));
    EXPECT_EQ(result, 1);

    EXPECT_EQ(captured([&result] { result = progDinamica(0); }),
              tableHeader() + "\n\n\n" + resultLine(0));
    EXPECT_EQ(result, 0);
}

TEST(ProgDinamica, RefusesAmountsOutsideTheTable)
{
    for (const int amount : {-1, 9, 100, INT_MIN, INT_MAX}) {
        int result = 0;
        EXPECT_EQ(captured([&result, amount] { result = progDinamica(amount); }), "")
            << "amount " << amount;
        EXPECT_EQ(result, -1) << "amount " << amount;
    }
}
