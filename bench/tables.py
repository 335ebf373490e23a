"""Markdown tables and the numbers in them."""


def ms(seconds):
    value = seconds * 1000
    return f"{value:.2f} ms" if value < 10 else f"{value:.0f} ms" if value >= 1000 else f"{value:.1f} ms"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def ratio(a, b):
    return f"{a / b:.2f}" if b else "-"


def verdict(value, limit):
    return "met" if value <= limit else "**missed**"
