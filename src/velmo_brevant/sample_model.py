"""A small, real model for the sample report: a logistic regression trained with
numpy alone on a synthetic credit dataset with named features.

The data are generated from a known scorecard plus noise, so the fitted model has
plausible coefficients and a validation AUC around 0.8.
"""

import numpy as np
import pandas as pd

FEATURES = [
    ("age", "Age of the applicant in years"),
    ("annual_income", "Yearly gross income"),
    ("debt_to_income", "Monthly debt payments over monthly income"),
    ("credit_utilization", "Share of revolving credit in use"),
    ("late_payments_12m", "Late payments in the last 12 months"),
    ("open_credit_lines", "Number of open credit lines"),
    ("employment_years", "Years with the current employer"),
    ("home_owner", "Owns the home (1) or not (0)"),
    ("recent_inquiries", "Credit inquiries in the last 6 months"),
    ("savings_balance", "Balance of savings accounts"),
    ("loan_amount", "Requested loan amount"),
    ("account_age_months", "Age of the oldest account in months"),
]

TARGET = "default"


def make_credit_data(rows=4000, seed=7):
    """Synthetic applicants with a binary ``default`` target."""
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame(
        {
            "age": rng.integers(21, 75, rows),
            "annual_income": np.round(rng.lognormal(10.8, 0.45, rows), 2),
            "debt_to_income": np.round(rng.beta(2.0, 5.0, rows), 4),
            "credit_utilization": np.round(rng.beta(2.0, 3.0, rows), 4),
            "late_payments_12m": rng.poisson(0.6, rows),
            "open_credit_lines": rng.integers(1, 16, rows),
            "employment_years": np.round(rng.gamma(2.0, 3.0, rows), 1),
            "home_owner": rng.integers(0, 2, rows),
            "recent_inquiries": rng.poisson(1.1, rows),
            "savings_balance": np.round(rng.lognormal(8.0, 1.2, rows), 2),
            "loan_amount": np.round(rng.lognormal(9.3, 0.6, rows), 2),
            "account_age_months": rng.integers(3, 360, rows),
        }
    )
    logit = (
        -1.2
        - 0.025 * (frame["age"] - 45)
        - 0.9 * (np.log(frame["annual_income"]) - 10.8)
        + 3.2 * (frame["debt_to_income"] - 0.28)
        + 2.4 * (frame["credit_utilization"] - 0.4)
        + 0.55 * frame["late_payments_12m"]
        + 0.02 * frame["open_credit_lines"]
        - 0.05 * frame["employment_years"]
        - 0.3 * frame["home_owner"]
        + 0.18 * frame["recent_inquiries"]
        - 0.12 * (np.log(frame["savings_balance"]) - 8.0)
        + 0.25 * (np.log(frame["loan_amount"]) - 9.3)
        - 0.001 * frame["account_age_months"]
    )
    probability = 1.0 / (1.0 + np.exp(-logit))
    frame[TARGET] = (rng.random(rows) < probability).astype(int)
    return frame


class LogisticModel:
    """Logistic regression on standardised features, fitted by Newton's method."""

    def __init__(self, features, ridge=1e-3):
        self.features = list(features)
        self.ridge = ridge
        self.mean = None
        self.scale = None
        self.coefficients = None
        self.intercept = 0.0
        self.iterations = 0

    def _design(self, frame):
        values = (frame[self.features].to_numpy(dtype=float) - self.mean) / self.scale
        return np.column_stack([np.ones(len(values)), values])

    def fit(self, frame, target, max_iterations=50, tolerance=1e-8):
        values = frame[self.features].to_numpy(dtype=float)
        self.mean = values.mean(axis=0)
        self.scale = values.std(axis=0)
        self.scale[self.scale == 0] = 1.0
        design = self._design(frame)
        y = frame[target].to_numpy(dtype=float)
        weights = np.zeros(design.shape[1])
        penalty = self.ridge * np.eye(design.shape[1])
        penalty[0, 0] = 0.0
        for self.iterations in range(1, max_iterations + 1):
            p = 1.0 / (1.0 + np.exp(-design @ weights))
            gradient = design.T @ (p - y) + penalty @ weights
            hessian = (design * (p * (1 - p))[:, None]).T @ design + penalty
            step = np.linalg.solve(hessian, gradient)
            weights -= step
            if np.max(np.abs(step)) < tolerance:
                break
        self.intercept = float(weights[0])
        self.coefficients = weights[1:]
        return self

    def predict_proba(self, frame):
        """Probability of the positive class for every row."""
        design = self._design(frame)
        weights = np.concatenate([[self.intercept], self.coefficients])
        return 1.0 / (1.0 + np.exp(-design @ weights))

    def importance(self):
        """Standardised coefficients by feature: sign and size of each effect."""
        return pd.DataFrame(
            {"coefficient": self.coefficients, "relative_importance": self.coefficients / np.abs(self.coefficients).max()},
            index=pd.Index(self.features, name="feature"),
        )


def auc(y_true, scores):
    """Area under the ROC curve (rank statistic, ties averaged)."""
    y_true = np.asarray(y_true)
    ranks = pd.Series(scores).rank().to_numpy()
    positives = y_true.sum()
    negatives = len(y_true) - positives
    return float((ranks[y_true == 1].sum() - positives * (positives + 1) / 2) / (positives * negatives))


def log_loss(y_true, probabilities):
    p = np.clip(probabilities, 1e-12, 1 - 1e-12)
    return float(-np.mean(y_true * np.log(p) + (1 - y_true) * np.log(1 - p)))


def roc_points(y_true, scores, points=50):
    """(false positive rate, true positive rate) at evenly spaced thresholds."""
    y_true = np.asarray(y_true)
    thresholds = np.quantile(scores, np.linspace(0, 1, points))[::-1]
    positives = max(y_true.sum(), 1)
    negatives = max(len(y_true) - y_true.sum(), 1)
    curve = [(0.0, 0.0)]
    for threshold in thresholds:
        predicted = scores >= threshold
        curve.append((float((predicted & (y_true == 0)).sum() / negatives), float((predicted & (y_true == 1)).sum() / positives)))
    curve.append((1.0, 1.0))
    return curve


def train_sample_model(rows=4000, seed=7, validation_share=0.3):
    """Data, model, validation predictions and the performance table."""
    data = make_credit_data(rows, seed)
    rng = np.random.default_rng(seed + 1)
    validation = rng.random(len(data)) < validation_share
    train, valid = data[~validation], data[validation]
    model = LogisticModel([name for name, _ in FEATURES]).fit(train, TARGET)
    train_p = model.predict_proba(train)
    valid_p = model.predict_proba(valid)
    scores = {
        "AUC": (auc(train[TARGET], train_p), auc(valid[TARGET], valid_p)),
        "LOGLOSS": (log_loss(train[TARGET].to_numpy(), train_p), log_loss(valid[TARGET].to_numpy(), valid_p)),
    }
    performance = pd.DataFrame(
        {
            "training_score": [value[0] for value in scores.values()],
            "validation_score_final": [value[1] for value in scores.values()],
        },
        index=list(scores),
    )
    return {
        "data": data,
        "train": train,
        "valid": valid,
        "model": model,
        "valid_predictions": valid_p,
        "performance": performance,
    }
